// Gatekeeper of the POSIX backend: the OS headers every posix/ file needs, and nothing beyond
// generic POSIX except where a file says it uses a Linux interface (futex, /proc).
#ifndef NXUTIL_PLATFORM_POSIX_SUPPORT_H
#define NXUTIL_PLATFORM_POSIX_SUPPORT_H

#include <cerrno>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/types.h>
#include <unistd.h>

#include <string>

namespace platform {
namespace posix {

/// UTF-16 text (a path, a report) as the UTF-8 bytes POSIX calls take; a lone surrogate
/// becomes U+FFFD. Null gives an empty string.
std::string toUtf8(const char16_t* text);

}  // namespace posix
}  // namespace platform

#endif
