// What the POSIX and Win32 code-page functions share: the argument checks of
// MultiByteToWideChar and WideCharToMultiByte, and code page 65001, which both backends convert
// with the library's own UTF-8 converter so that its results and error numbers are the same
// everywhere. Failures return 0 (or false) with the error recorded by setLastError.
#ifndef NXUTIL_PLATFORM_CODEPAGE_UTF8_H
#define NXUTIL_PLATFORM_CODEPAGE_UTF8_H

#include <cstddef>

namespace platform::codepage {

/// False, with error 87 recorded for `call`, on a null input, a length of 0 or below -1, a
/// negative capacity or a null output with a capacity.
bool argumentsValid(const void* in, int inLength, const void* out, int outCapacity,
                    const char* call);

/// The units to convert: `inLength`, or for -1 the text up to and including its terminator.
std::size_t inputLength(const char* in, int inLength);
std::size_t inputLength(const char16_t* in, int inLength);

/// Code page 65001 as multiByteToWideChar and wideCharToMultiByte: arguments, flags (only the
/// strict flag of each direction), conversion. Encoding takes no default character.
int utf8PageToWide(unsigned int flags, const char* in, int inLength, char16_t* out,
                   int outCapacity);
int utf8PageFromWide(unsigned int flags, const char16_t* in, int inLength, char* out,
                     int outCapacity, const char* defaultChar, bool* usedDefault);

/// UTF-8 text, arguments already checked (n > 0): the units written, the units needed when
/// `outCapacity` is 0, or 0 with the error recorded (1113 for a strict fault anywhere in the
/// input, else 122 when the output does not fit, 534 beyond an int). The ANSI, OEM and thread
/// pages of the POSIX backend come here too.
int utf8ToWide(bool strict, const char* in, std::size_t n, char16_t* out, int outCapacity);
/// The same for encoding; a lone surrogate becomes the `loneLength` bytes at `lone` (then
/// *usedLone is set) unless strict.
int wideToUtf8(bool strict, const char16_t* in, std::size_t n, char* out, int outCapacity,
               const char* lone, std::size_t loneLength, bool* usedLone);

/// How many of the `inLength` bytes at `in` decode as strict UTF-8 (0 for no input).
int utf8ValidPrefix(const char* in, int inLength);

}  // namespace platform::codepage

#endif
