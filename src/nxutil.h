// Every public header of the library.
#ifndef NXUTIL_NXUTIL_H
#define NXUTIL_NXUTIL_H

#include "memory/memory.h"
#include "text/text.h"
#include "xml/xml.h"
#include "log/log.h"
#include "interop/interop.h"
#include "video/video.h"
#include "sysinfo/sysinfo.h"
#include "pubfunc/pubfunc.h"
#include "signals/signals.h"
#include "timing/timing.h"

#endif
