// Seams of the environment utilities for the library's own tests (internal, not exported).
#ifndef NXUTIL_PUBFUNC_INTERNAL_H
#define NXUTIL_PUBFUNC_INTERNAL_H

namespace nxpubfunc {

// The frame-rate counters read the platform's tick count through platform::sys().tickCount,
// where tests replace it.

/// Puts all four frame-rate stages back to "not started".
void resetFrameCounters();

}  // namespace nxpubfunc

#endif
