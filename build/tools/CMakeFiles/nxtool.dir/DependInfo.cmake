
# Consider dependencies only in project.
set(CMAKE_DEPENDS_IN_PROJECT_ONLY OFF)

# The set of languages for which implicit dependencies are needed:
set(CMAKE_DEPENDS_LANGUAGES
  )

# The set of dependency files which are needed:
set(CMAKE_DEPENDS_DEPENDENCY_FILES
  "/work/main/tools/nxtool/cmd_demo.cpp" "tools/CMakeFiles/nxtool.dir/nxtool/cmd_demo.cpp.o" "gcc" "tools/CMakeFiles/nxtool.dir/nxtool/cmd_demo.cpp.o.d"
  "/work/main/tools/nxtool/cmd_memory.cpp" "tools/CMakeFiles/nxtool.dir/nxtool/cmd_memory.cpp.o" "gcc" "tools/CMakeFiles/nxtool.dir/nxtool/cmd_memory.cpp.o.d"
  "/work/main/tools/nxtool/main.cpp" "tools/CMakeFiles/nxtool.dir/nxtool/main.cpp.o" "gcc" "tools/CMakeFiles/nxtool.dir/nxtool/main.cpp.o.d"
  )

# Targets to which this target links.
set(CMAKE_TARGET_LINKED_INFO_FILES
  "/work/main/build/src/CMakeFiles/nxutil.dir/DependInfo.cmake"
  )

# Fortran module output directory.
set(CMAKE_Fortran_TARGET_MODULE_DIR "")
