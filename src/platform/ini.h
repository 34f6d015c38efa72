// The text engine of the POSIX private-profile store: looks keys up in, and rewrites, the bytes
// of an INI file with the semantics of the Windows profile functions.
//
// The file is UTF-8 (invalid sequences compare as U+FFFD). Lines: "[name]" starts a section
// (blanks around the name ignored; a missing "]" takes the rest of the line); a line whose
// first non-blank character is ';' is a comment; "key=value" is an entry (blanks around key and
// value ignored, one pair of matching double or single quotes around the value removed). Lines
// before the first section and lines of no kind are kept but never match. Section and key
// names compare case-insensitively. A section may occur more than once: lookups see the
// entries of every occurrence in file order, and the first matching entry wins.
//
// Rewriting changes one line or inserts one or two; every other byte of the file, comments,
// blank lines, unknown lines and invalid UTF-8 included, stays as it was.
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
/// at the first one) or a key that starts, after blanks, with "[" or ";" (read as a section
/// header or a comment).
bool storable(const std::u16string& section, const std::u16string& key,
              const std::u16string& value);

/// The file text with `key` set to `value` in `section`: the first matching entry is replaced,
/// otherwise the entry is inserted after the last entry of the section's first occurrence,
/// otherwise "[section]" and the entry are appended. A replaced entry keeps its key's
/// spelling. New lines end like the file's first line (LF for a file without line ends).
std::string update(std::string_view text, const std::u16string& section,
                   const std::u16string& key, const std::u16string& value);

}  // namespace ini
}  // namespace platform

#endif
