file(REMOVE_RECURSE
  "CMakeFiles/memory_tests.dir/test_atomic_lock.cpp.o"
  "CMakeFiles/memory_tests.dir/test_atomic_lock.cpp.o.d"
  "CMakeFiles/memory_tests.dir/test_pool.cpp.o"
  "CMakeFiles/memory_tests.dir/test_pool.cpp.o.d"
  "CMakeFiles/memory_tests.dir/test_pool_stress.cpp.o"
  "CMakeFiles/memory_tests.dir/test_pool_stress.cpp.o.d"
  "memory_tests"
  "memory_tests.pdb"
)

# Per-language clean rules from dependency scanning.
foreach(lang CXX)
  include(CMakeFiles/memory_tests.dir/cmake_clean_${lang}.cmake OPTIONAL)
endforeach()
