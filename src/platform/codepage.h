// Code-page conversion between 8-bit text and UTF-16, with the results and error numbers of the
// Win32 functions MultiByteToWideChar and WideCharToMultiByte on every platform.
//
// Win32 calls the real functions. The POSIX backend converts UTF-8 (65001) with the library's
// own converter (vectorised ASCII runs), treats the "ANSI", "OEM" and thread code pages (0, 1,
// 3) as UTF-8, and sends every other code page number through iconv ("CP936", "CP1252", ...),
// completed for 1252, 936, 949 and 950 by tables generated from ICU's mapping data where iconv
// lacks a character (docs/text.md lists what still differs from Windows).
// Failures return 0 and record a Win32 error number (also on POSIX) with setLastError:
//   87   kErrorInvalidParameter       null input, a length of 0 or below -1, unknown page
//   122  kErrorInsufficientBuffer     the output does not fit in `outCapacity`
//   1004 kErrorInvalidFlags           a flag the code page does not accept
//   534  kErrorArithmeticOverflow     the result would not fit in an int
//   1113 kErrorNoUnicodeTranslation   strict mode met an invalid or truncated sequence
#ifndef NXUTIL_PLATFORM_CODEPAGE_H
#define NXUTIL_PLATFORM_CODEPAGE_H

namespace platform {

constexpr unsigned int kCodePageAnsi = 0;       ///< CP_ACP: the system's ANSI code page
constexpr unsigned int kCodePageUtf8 = 65001;   ///< CP_UTF8

/// MB_ERR_INVALID_CHARS: fail with 1113 instead of replacing an invalid sequence.
constexpr unsigned int kMbErrInvalidChars = 0x08;
/// WC_ERR_INVALID_CHARS: fail with 1113 on a lone surrogate (UTF-8 only).
constexpr unsigned int kWcErrInvalidChars = 0x80;
/// WC_NO_BEST_FIT_CHARS: write the default character, not a look-alike, for a character the
/// page lacks (pages other than UTF-8).
constexpr unsigned int kWcNoBestFitChars = 0x400;

constexpr int kErrorInvalidParameter = 87;
constexpr int kErrorInsufficientBuffer = 122;
constexpr int kErrorArithmeticOverflow = 534;
constexpr int kErrorInvalidFlags = 1004;
constexpr int kErrorNoUnicodeTranslation = 1113;

/// Decodes `inLength` bytes of `in` (-1: up to and including the terminating zero byte, which
/// then counts in the result) into UTF-16. With `outCapacity` 0 nothing is written and the
/// number of units needed is returned; otherwise the number of units written, or 0 on failure
/// (122 when they do not fit). Without kMbErrInvalidChars an invalid UTF-8 sequence becomes
/// U+FFFD, one for each maximal ill-formed subpart (an unexpected continuation byte, a lead byte
/// whose sequence breaks off, a truncated tail), as Windows does; other code pages substitute
/// their default character.
///   UTF-8 "a\xE2\x82" => u"a\uFFFD"; strict => 0 with error 1113.
int multiByteToWideChar(unsigned int codePage, unsigned int flags, const char* in, int inLength,
                        char16_t* out, int outCapacity);

/// The length of the longest prefix of the `inLength` bytes at `in` (inLength > 0) that
/// multiByteToWideChar decodes in strict mode: the position of the first invalid or truncated
/// sequence, or inLength when there is none. Equivalent to shortening the input one byte at a
/// time until strict decoding succeeds, without the quadratic cost.
///   UTF-8 "ab\xFF" "c" => 2, "ab\xE2\x82" => 2.
int multiByteValidPrefix(unsigned int codePage, const char* in, int inLength);

/// Encodes `inLength` UTF-16 units of `in` (-1: up to and including the terminating zero unit)
/// into the code page. Size query, results and errors as in multiByteToWideChar. UTF-8 encodes a
/// lone surrogate as U+FFFD (EF BF BD), or fails with 1113 under kWcErrInvalidChars; it accepts
/// no default character and no `usedDefault` (87). Other code pages write a character they
/// cannot represent as its best-fit look-alike where the page has one (not with
/// kWcNoBestFitChars), otherwise as `defaultChar` (a zero-terminated character of one or two
/// bytes; null: the page's own, '?') and then set `*usedDefault`, which is otherwise false.
///   936 u"\u00A2" => "\xA1\xE9"; 1252 u"\u0100" => "A" on Windows, "?" on POSIX (no data).
int wideCharToMultiByte(unsigned int codePage, unsigned int flags, const char16_t* in,
                        int inLength, char* out, int outCapacity, const char* defaultChar,
                        bool* usedDefault);

}  // namespace platform

#endif
