file(REMOVE_RECURSE
  "CMakeFiles/nxtool.dir/nxtool/cmd_demo.cpp.o"
  "CMakeFiles/nxtool.dir/nxtool/cmd_demo.cpp.o.d"
  "CMakeFiles/nxtool.dir/nxtool/cmd_memory.cpp.o"
  "CMakeFiles/nxtool.dir/nxtool/cmd_memory.cpp.o.d"
  "CMakeFiles/nxtool.dir/nxtool/main.cpp.o"
  "CMakeFiles/nxtool.dir/nxtool/main.cpp.o.d"
  "nxtool"
  "nxtool.pdb"
)

# Per-language clean rules from dependency scanning.
foreach(lang CXX)
  include(CMakeFiles/nxtool.dir/cmake_clean_${lang}.cmake OPTIONAL)
endforeach()
