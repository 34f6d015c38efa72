file(REMOVE_RECURSE
  "CMakeFiles/memory_pool_layout_tests.dir/test_pool_layout.cpp.o"
  "CMakeFiles/memory_pool_layout_tests.dir/test_pool_layout.cpp.o.d"
  "memory_pool_layout_tests"
  "memory_pool_layout_tests.pdb"
)

# Per-language clean rules from dependency scanning.
foreach(lang CXX)
  include(CMakeFiles/memory_pool_layout_tests.dir/cmake_clean_${lang}.cmake OPTIONAL)
endforeach()
