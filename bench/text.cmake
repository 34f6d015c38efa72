# Text containers and UTF-8 <-> UTF-16 conversion against the standard strings, ICU, utfcpp and
# glibc iconv (Linux only). The code-page converter is internal to the library, so its source is
# compiled into the benchmark (the shared library's copy is hidden and does not clash).
if(WIN32)
  return()
endif()
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
  pkg_check_modules(NX_ICU QUIET IMPORTED_TARGET icu-uc)
endif()
find_path(NX_UTFCPP_INCLUDE utf8.h PATH_SUFFIXES utf8cpp)
if(NOT NX_ICU_FOUND OR NOT NX_UTFCPP_INCLUDE)
  message(STATUS "text_bench skipped: install libicu-dev and libutfcpp-dev (.ci/packages-bench)")
  return()
endif()
nx_add_bench(text_bench
  SOURCES text_bench.cpp
          ${PROJECT_SOURCE_DIR}/src/platform/posix/codepage.cpp
          ${PROJECT_SOURCE_DIR}/src/platform/posix/codepage_tables.cpp
          ${PROJECT_SOURCE_DIR}/src/platform/codepage_utf8.cpp
          ${PROJECT_SOURCE_DIR}/src/platform/utf8.cpp
          ${PROJECT_SOURCE_DIR}/src/platform/error.cpp
  LIBS PkgConfig::NX_ICU
  INCLUDES ${NX_UTFCPP_INCLUDE})
