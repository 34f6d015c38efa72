file(REMOVE_RECURSE
  "CMakeFiles/nxutil_objects.dir/memory/atomic_int.cpp.o"
  "CMakeFiles/nxutil_objects.dir/memory/atomic_int.cpp.o.d"
  "CMakeFiles/nxutil_objects.dir/memory/critical_section.cpp.o"
  "CMakeFiles/nxutil_objects.dir/memory/critical_section.cpp.o.d"
  "CMakeFiles/nxutil_objects.dir/memory/heap.cpp.o"
  "CMakeFiles/nxutil_objects.dir/memory/heap.cpp.o.d"
  "CMakeFiles/nxutil_objects.dir/memory/pool.cpp.o"
  "CMakeFiles/nxutil_objects.dir/memory/pool.cpp.o.d"
  "CMakeFiles/nxutil_objects.dir/memory/pool_report.cpp.o"
  "CMakeFiles/nxutil_objects.dir/memory/pool_report.cpp.o.d"
  "CMakeFiles/nxutil_objects.dir/platform/error.cpp.o"
  "CMakeFiles/nxutil_objects.dir/platform/error.cpp.o.d"
  "CMakeFiles/nxutil_objects.dir/platform/posix/diag.cpp.o"
  "CMakeFiles/nxutil_objects.dir/platform/posix/diag.cpp.o.d"
  "CMakeFiles/nxutil_objects.dir/platform/posix/lock.cpp.o"
  "CMakeFiles/nxutil_objects.dir/platform/posix/lock.cpp.o.d"
  "CMakeFiles/nxutil_objects.dir/platform/posix/vmem.cpp.o"
  "CMakeFiles/nxutil_objects.dir/platform/posix/vmem.cpp.o.d"
)

# Per-language clean rules from dependency scanning.
foreach(lang CXX)
  include(CMakeFiles/nxutil_objects.dir/cmake_clean_${lang}.cmake OPTIONAL)
endforeach()
