
# Consider dependencies only in project.
set(CMAKE_DEPENDS_IN_PROJECT_ONLY OFF)

# The set of languages for which implicit dependencies are needed:
set(CMAKE_DEPENDS_LANGUAGES
  )

# The set of dependency files which are needed:
set(CMAKE_DEPENDS_DEPENDENCY_FILES
  "/work/main/src/memory/atomic_int.cpp" "src/CMakeFiles/nxutil_objects.dir/memory/atomic_int.cpp.o" "gcc" "src/CMakeFiles/nxutil_objects.dir/memory/atomic_int.cpp.o.d"
  "/work/main/src/memory/critical_section.cpp" "src/CMakeFiles/nxutil_objects.dir/memory/critical_section.cpp.o" "gcc" "src/CMakeFiles/nxutil_objects.dir/memory/critical_section.cpp.o.d"
  "/work/main/src/memory/heap.cpp" "src/CMakeFiles/nxutil_objects.dir/memory/heap.cpp.o" "gcc" "src/CMakeFiles/nxutil_objects.dir/memory/heap.cpp.o.d"
  "/work/main/src/memory/pool.cpp" "src/CMakeFiles/nxutil_objects.dir/memory/pool.cpp.o" "gcc" "src/CMakeFiles/nxutil_objects.dir/memory/pool.cpp.o.d"
  "/work/main/src/memory/pool_report.cpp" "src/CMakeFiles/nxutil_objects.dir/memory/pool_report.cpp.o" "gcc" "src/CMakeFiles/nxutil_objects.dir/memory/pool_report.cpp.o.d"
  "/work/main/src/platform/error.cpp" "src/CMakeFiles/nxutil_objects.dir/platform/error.cpp.o" "gcc" "src/CMakeFiles/nxutil_objects.dir/platform/error.cpp.o.d"
  "/work/main/src/platform/posix/diag.cpp" "src/CMakeFiles/nxutil_objects.dir/platform/posix/diag.cpp.o" "gcc" "src/CMakeFiles/nxutil_objects.dir/platform/posix/diag.cpp.o.d"
  "/work/main/src/platform/posix/lock.cpp" "src/CMakeFiles/nxutil_objects.dir/platform/posix/lock.cpp.o" "gcc" "src/CMakeFiles/nxutil_objects.dir/platform/posix/lock.cpp.o.d"
  "/work/main/src/platform/posix/vmem.cpp" "src/CMakeFiles/nxutil_objects.dir/platform/posix/vmem.cpp.o" "gcc" "src/CMakeFiles/nxutil_objects.dir/platform/posix/vmem.cpp.o.d"
  )

# Targets to which this target links.
set(CMAKE_TARGET_LINKED_INFO_FILES
  )

# Fortran module output directory.
set(CMAKE_Fortran_TARGET_MODULE_DIR "")
