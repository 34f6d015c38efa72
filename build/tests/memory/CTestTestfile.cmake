# CMake generated Testfile for 
# Source directory: /work/main/tests/memory
# Build directory: /work/main/build/tests/memory
# 
# This file includes the relevant testing commands required for 
# testing this directory and lists subdirectories to be tested as well.
add_test([=[memory_tests]=] "/work/main/build/tests/memory/memory_tests")
set_tests_properties([=[memory_tests]=] PROPERTIES  FAIL_REGULAR_EXPRESSION "\\[  FAILED  \\]" PASS_REGULAR_EXPRESSION "\\[  PASSED  \\] [0-9]+ tests?\\." TIMEOUT "600" _BACKTRACE_TRIPLES "/work/main/tests/CMakeLists.txt;27;add_test;/work/main/tests/memory/CMakeLists.txt;1;nx_add_test;/work/main/tests/memory/CMakeLists.txt;0;")
add_test([=[memory_pool_layout_tests]=] "/work/main/build/tests/memory/memory_pool_layout_tests")
set_tests_properties([=[memory_pool_layout_tests]=] PROPERTIES  FAIL_REGULAR_EXPRESSION "\\[  FAILED  \\]" PASS_REGULAR_EXPRESSION "\\[  PASSED  \\] [0-9]+ tests?\\." TIMEOUT "600" _BACKTRACE_TRIPLES "/work/main/tests/CMakeLists.txt;27;add_test;/work/main/tests/memory/CMakeLists.txt;4;nx_add_test;/work/main/tests/memory/CMakeLists.txt;0;")
add_test([=[memory_pool_full_tests]=] "/work/main/build/tests/memory/memory_pool_full_tests")
set_tests_properties([=[memory_pool_full_tests]=] PROPERTIES  FAIL_REGULAR_EXPRESSION "\\[  FAILED  \\]" PASS_REGULAR_EXPRESSION "\\[  PASSED  \\] [0-9]+ tests?\\." TIMEOUT "600" _BACKTRACE_TRIPLES "/work/main/tests/CMakeLists.txt;27;add_test;/work/main/tests/memory/CMakeLists.txt;5;nx_add_test;/work/main/tests/memory/CMakeLists.txt;0;")
