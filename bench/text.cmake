# Text containers and UTF-8 <-> UTF-16 conversion against the standard strings, ICU, utfcpp and
# glibc iconv. The code-page converter is internal to the library, so its source is compiled
# into the benchmark (the shared library's copy is hidden and does not clash).
find_package(PkgConfig REQUIRED)
pkg_check_modules(NX_ICU REQUIRED IMPORTED_TARGET icu-uc)
find_path(NX_UTFCPP_INCLUDE utf8.h PATH_SUFFIXES utf8cpp REQUIRED)
nx_add_bench(text_bench
  SOURCES text_bench.cpp
          ${PROJECT_SOURCE_DIR}/src/platform/posix/codepage.cpp
          ${PROJECT_SOURCE_DIR}/src/platform/error.cpp
  LIBS PkgConfig::NX_ICU
  INCLUDES ${NX_UTFCPP_INCLUDE})
