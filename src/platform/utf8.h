// UTF-8 and UTF-16 for the platform layer's own texts: paths handed to the system, names,
// settings files, report lines. The UTF-8 code page's conversion without flags, so damaged
// input is replaced (a lone surrogate by U+FFFD), never refused.
#ifndef NXUTIL_PLATFORM_UTF8_H
#define NXUTIL_PLATFORM_UTF8_H

#include <string>

namespace platform {

/// The UTF-8 bytes of `text`.
std::string toUtf8(const std::u16string& text);
/// The same for a zero-terminated text; null gives an empty string.
std::string toUtf8(const char16_t* text);
/// The UTF-16 text of the UTF-8 bytes `text`.
std::u16string fromUtf8(const std::string& text);

}  // namespace platform

#endif
