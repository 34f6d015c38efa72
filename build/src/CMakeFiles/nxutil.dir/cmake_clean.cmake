file(REMOVE_RECURSE
  "libnxutil.pdb"
  "libnxutil.so"
  "libnxutil.so.0"
  "libnxutil.so.0.1.0"
)

# Per-language clean rules from dependency scanning.
foreach(lang CXX)
  include(CMakeFiles/nxutil.dir/cmake_clean_${lang}.cmake OPTIONAL)
endforeach()
