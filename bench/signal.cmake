# Signals, clock and timers against boost.signals2, libsigc++ 3, std::function and timerfd.
find_package(Boost REQUIRED)
pkg_check_modules(SIGCXX3 REQUIRED IMPORTED_TARGET sigc++-3.0)
nx_add_bench(signal_bench SOURCES ${CMAKE_CURRENT_LIST_DIR}/signal_bench.cpp
             LIBS Boost::headers PkgConfig::SIGCXX3)
