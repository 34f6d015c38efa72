file(REMOVE_RECURSE
  "libnxutil_static.a"
  "libnxutil_static.pdb"
)

# Per-language clean rules from dependency scanning.
foreach(lang CXX)
  include(CMakeFiles/nxutil_static.dir/cmake_clean_${lang}.cmake OPTIONAL)
endforeach()
