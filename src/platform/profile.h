// Private-profile (INI) files: one value by section and key, read and written.
//
// Win32: GetPrivateProfileStringW and WritePrivateProfileStringW. POSIX: the library's own store
// (platform/ini.h) on UTF-8 files; a write reads, changes and replaces the whole file under an
// exclusive lock on "<file>.lock" (flock, left in place) through replaceFile (a new file in the
// same folder, flushed and renamed over the old one), so readers see the old or the complete
// new file and never a torn one, and two processes writing at once both keep their entries.
// Only regular files of at most kProfileMaxBytes are read or written: a FIFO, device or folder,
// and a larger file, read as a missing file and are never replaced.
#ifndef NXUTIL_PLATFORM_PROFILE_H
#define NXUTIL_PLATFORM_PROFILE_H

#include <cstddef>

namespace platform {

/// The largest settings file the POSIX store reads (16 MiB); a larger one reads as missing,
/// and a write that would make the file larger is refused.
constexpr long long kProfileMaxBytes = 16LL << 20;

/// Copies the value of `key` in `section` of `file` to `out` (room for `capacity` units with
/// the terminating zero), cut to capacity - 1 units. A missing file, section or key gives
/// `defaultValue` (null: empty) with its trailing blanks removed, cut the same way. Returns the
/// number of units copied. A file that cannot be read (not a regular file, too large, an
/// I/O error) counts as missing.
std::size_t profileGetString(const char16_t* file, const char16_t* section, const char16_t* key,
                             const char16_t* defaultValue, char16_t* out, std::size_t capacity);

/// Sets `key` in `section` of `file` to `value`, creating the file and the section as needed.
/// False when the file cannot be read (a missing file is fine) or replaced, or would grow past
/// kProfileMaxBytes; the file then keeps its old contents.
bool profileWriteString(const char16_t* file, const char16_t* section, const char16_t* key,
                        const char16_t* value);

}  // namespace platform

#endif
