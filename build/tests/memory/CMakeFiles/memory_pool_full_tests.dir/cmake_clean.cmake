file(REMOVE_RECURSE
  "CMakeFiles/memory_pool_full_tests.dir/test_pool_full.cpp.o"
  "CMakeFiles/memory_pool_full_tests.dir/test_pool_full.cpp.o.d"
  "memory_pool_full_tests"
  "memory_pool_full_tests.pdb"
)

# Per-language clean rules from dependency scanning.
foreach(lang CXX)
  include(CMakeFiles/memory_pool_full_tests.dir/cmake_clean_${lang}.cmake OPTIONAL)
endforeach()
