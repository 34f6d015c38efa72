// The text engine of the POSIX private-profile store: looks keys up in, and rewrites, the bytes
// of an INI file with the semantics of the Windows profile functions.
//
// The file is UTF-8 (invalid sequences compare as U+FFFD). A line ends at CR LF, LF or a lone
// CR. "[name]" starts a section (blanks around the name ignored; a "[" without "]" starts
// none); any other line that is not blank is an entry: "key=value" (blanks around key and
// value ignored, one pair of matching double or single quotes around the value removed) or a
// bare "key" without a value, which reads as missing. There is no comment syntax: a line
// "; note" is a bare key like any other, which no caller asks for. Lines before the first
// section never match. Section and key names compare case-insensitively, and names passed in
// are trimmed of blanks. Only the first occurrence of a section is read and written; a later
// one with the same name is kept as it is but never seen.
//
// Rewriting changes one line or inserts one or two; every other byte of the file, blank
// lines, unknown lines and invalid UTF-8 included, stays as it was.
#ifndef NXUTIL_PLATFORM_INI_H
#define NXUTIL_PLATFORM_INI_H

#include <string>
#include <string_view>

namespace platform {
namespace ini {

/// Finds `key` in `section`; true and the value when it is there.
bool lookup(std::string_view text, const std::u16string& section, const std::u16string& key,
            std::u16string* value);

/// False when the entry would not read back as written, so a writer must refuse it: a line
/// break (CR or LF) anywhere, which would start a new line (a forged section or entry); a "]"
/// in the section name (the reader ends the name there); an "=" in the key (the reader splits
/// at the first one) or a key that starts, after blanks, with "[" (read as a section header).
bool storable(const std::u16string& section, const std::u16string& key,
              const std::u16string& value);

/// The file text with `key` set to `value` in `section` (names trimmed, the value without its
/// leading blanks, which a read drops anyway): the first matching entry of the section's first
/// occurrence is replaced, keeping its key's spelling; otherwise the entry is inserted after
/// the last entry of that occurrence; otherwise "[section]" and the entry are appended. New
/// lines end like the file's first line (CR LF for a file without line ends).
std::string update(std::string_view text, const std::u16string& section,
                   const std::u16string& key, const std::u16string& value);

}  // namespace ini
}  // namespace platform

#endif
