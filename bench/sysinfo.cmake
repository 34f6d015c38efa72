# Cost of one processor-load sample against reading /proc directly.
nx_add_bench(sysinfo_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/sysinfo_bench.cpp)
