# Cross toolchain for the 32-bit Windows DLL: Debian's MinGW-w64 for i686, POSIX thread model.
#
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
#
# Run-time libraries are linked dynamically. On i686 the unwinder is the DWARF-2 one, and a fully
# static libgcc gives every module (nxutil.dll, each .exe) its own copy of the unwinder and its
# frame registry: an exception thrown in the DLL and caught in the program then terminates. With
# libgcc_s_dw2-1.dll, libstdc++-6.dll and libwinpthread-1.dll shared, there is one unwinder.
#
# Programs and DLLs all go to <build>/bin, and the configure step copies the three run-time DLLs
# there too, so every program finds nxutil.dll and the run-time next to itself: the tests, nxtool
# and a copied bin/ folder run under Wine (or Windows) without WINEPATH or PATH changes.
#
# Tests run through Wine (CMAKE_CROSSCOMPILING_EMULATOR): see docs/windows.md.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(NXUTIL_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_C_COMPILER   /usr/bin/${NXUTIL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER /usr/bin/${NXUTIL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  /usr/bin/${NXUTIL_MINGW_TRIPLE}-windres)
set(CMAKE_AR           /usr/bin/${NXUTIL_MINGW_TRIPLE}-ar)
set(CMAKE_RANLIB       /usr/bin/${NXUTIL_MINGW_TRIPLE}-ranlib)

set(CMAKE_FIND_ROOT_PATH /usr/${NXUTIL_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Floating point in SSE2 registers, as on x86-64 and as 32-bit MSVC builds do by default. The
# x87 unit would keep intermediates at 80 bits, so a double expression could give another result
# here than on every other platform (seen: a tick count times 1e9 divided by the frequency).
set(CMAKE_C_FLAGS_INIT   "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")

# One shared unwinder and C++ run-time for every module (see above).
set(CMAKE_EXE_LINKER_FLAGS_INIT    "-shared-libgcc")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-shared-libgcc")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-shared-libgcc")

# Everything runnable in one folder, as it is deployed on Windows.
if(NOT DEFINED CMAKE_RUNTIME_OUTPUT_DIRECTORY)
  set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
endif()

get_property(_nx_in_try_compile GLOBAL PROPERTY IN_TRY_COMPILE)
if(NOT _nx_in_try_compile)
  # The run-time DLLs the linked modules import, copied next to the programs.
  if(EXISTS ${CMAKE_CXX_COMPILER})
    foreach(_nx_dll libgcc_s_dw2-1.dll libstdc++-6.dll libwinpthread-1.dll)
      execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${_nx_dll}
                      OUTPUT_VARIABLE _nx_path OUTPUT_STRIP_TRAILING_WHITESPACE)
      if(NOT IS_ABSOLUTE "${_nx_path}" AND EXISTS /usr/${NXUTIL_MINGW_TRIPLE}/lib/${_nx_dll})
        set(_nx_path /usr/${NXUTIL_MINGW_TRIPLE}/lib/${_nx_dll})
      endif()
      if(IS_ABSOLUTE "${_nx_path}" AND EXISTS "${_nx_path}")
        file(COPY "${_nx_path}" DESTINATION ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
      else()
        message(WARNING "${_nx_dll} not found: programs will not start without it")
      endif()
    endforeach()
  endif()

  # Let ctest run the .exe files through Wine: preferably the wrapper that .ci/win32.sh leaves
  # in its work folder (it pins the 32-bit prefix), else the first wine on PATH.
  if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
    find_program(NXUTIL_WINE NAMES wine NO_DEFAULT_PATH
                 PATHS $ENV{NXUTIL_WIN32_WORK} /var/tmp/nxutil-win32)
    find_program(NXUTIL_WINE NAMES wine)
    if(NXUTIL_WINE)
      set(CMAKE_CROSSCOMPILING_EMULATOR ${NXUTIL_WINE})
    else()
      message(WARNING "wine not found: the tests build but ctest cannot run them "
                      "(pass -DCMAKE_CROSSCOMPILING_EMULATOR=<wine>)")
    endif()
  endif()
endif()
