// The library's one seam to the operating system.
//
// Every OS-facing operation the library needs is declared in a header of this folder, one
// header per service, and collected here. Two backends implement them with the same file and
// function names: posix/ (Linux first) and win32/ (the real Win32 API). CMake picks the folder;
// code outside src/platform/ never includes an OS header and never tests the platform.
//
// Error model: an operation returns a portable result (false, null, -1) and leaves the native
// error number of the failed call in lastError(), with the call's name, for callers that log.
#ifndef NXUTIL_PLATFORM_PLATFORM_H
#define NXUTIL_PLATFORM_PLATFORM_H

#include "platform/error.h"
#include "platform/lock.h"
#include "platform/vmem.h"
#include "platform/diag.h"
#include "platform/perf.h"
#include "platform/sysinfo.h"
#include "platform/msgloop.h"
#include "platform/mmtimer.h"
#include "platform/clock.h"
#include "platform/codepage.h"
#include "platform/file.h"
#include "platform/time.h"
#include "platform/process.h"
#include "platform/shm.h"
#include "platform/dl.h"
#include "platform/window.h"
#include "platform/folders.h"
#include "platform/profile.h"
#include "platform/utf8.h"

#endif
