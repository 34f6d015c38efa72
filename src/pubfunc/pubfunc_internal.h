// Seams of the environment utilities for the library's own tests (internal, not exported).
#ifndef NXUTIL_PUBFUNC_INTERNAL_H
#define NXUTIL_PUBFUNC_INTERNAL_H

namespace nxpubfunc {

/// A replacement for the platform's millisecond tick count.
typedef unsigned int (*TickSource)();

/// Makes the frame-rate counters read ticks from `source` (null: the platform's tick count);
/// returns the previous source.
TickSource setTickSource(TickSource source);

/// Puts all four frame-rate stages back to "not started".
void resetFrameCounters();

}  // namespace nxpubfunc

#endif
