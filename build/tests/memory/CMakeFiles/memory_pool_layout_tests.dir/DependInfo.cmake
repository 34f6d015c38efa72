
# Consider dependencies only in project.
set(CMAKE_DEPENDS_IN_PROJECT_ONLY OFF)

# The set of languages for which implicit dependencies are needed:
set(CMAKE_DEPENDS_LANGUAGES
  )

# The set of dependency files which are needed:
set(CMAKE_DEPENDS_DEPENDENCY_FILES
  "/work/main/tests/memory/test_pool_layout.cpp" "tests/memory/CMakeFiles/memory_pool_layout_tests.dir/test_pool_layout.cpp.o" "gcc" "tests/memory/CMakeFiles/memory_pool_layout_tests.dir/test_pool_layout.cpp.o.d"
  )

# Targets to which this target links.
set(CMAKE_TARGET_LINKED_INFO_FILES
  "/work/main/build/src/CMakeFiles/nxutil.dir/DependInfo.cmake"
  "/work/main/build/tests/support/CMakeFiles/nx_test_support.dir/DependInfo.cmake"
  )

# Fortran module output directory.
set(CMAKE_Fortran_TARGET_MODULE_DIR "")
