file(REMOVE_RECURSE
  "CMakeFiles/nx_test_support.dir/test_support.cpp.o"
  "CMakeFiles/nx_test_support.dir/test_support.cpp.o.d"
  "libnx_test_support.a"
  "libnx_test_support.pdb"
)

# Per-language clean rules from dependency scanning.
foreach(lang CXX)
  include(CMakeFiles/nx_test_support.dir/cmake_clean_${lang}.cmake OPTIONAL)
endforeach()
