// The INI text engine: a line scanner shared by lookup and update.
#include "platform/ini.h"
#include "platform/utf8.h"

#include <cwctype>
#include <vector>

namespace platform {
namespace ini {

namespace {

// Section: "[name]"; Entry: "key=value" or a bare "key" (no value: reads as missing, and a
// write of that key replaces the line); Other: a blank line or a "[" without its "]".
enum class Kind { Other, Section, Entry };

// One line of the file: [begin, end) without its line end, next = start of the next line.
struct Line {
    std::size_t begin;
    std::size_t end;
    std::size_t next;
    Kind kind;
    bool hasValue;      // an entry with "="
    std::string name;   // section name or key, trimmed (UTF-8 bytes)
    std::string value;  // entry value, trimmed, quotes removed
};

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

std::string trim(std::string_view s, std::size_t b, std::size_t e) {
    while (b < e && isBlank(s[b]))
        ++b;
    while (e > b && isBlank(s[e - 1]))
        --e;
    return std::string(s.substr(b, e - b));
}

// A line ends at CR LF, LF or a lone CR, so files written on any system read alike.
std::vector<Line> scan(std::string_view text) {
    std::vector<Line> lines;
    std::size_t p = 0;
    while (p < text.size()) {
        Line l;
        l.begin = p;
        const std::size_t brk = text.find_first_of("\r\n", p);
        l.end = brk == std::string_view::npos ? text.size() : brk;
        l.next = brk == std::string_view::npos ? text.size() : brk + 1;
        if (brk != std::string_view::npos && text[brk] == '\r' && l.next < text.size() &&
            text[l.next] == '\n')
            ++l.next;
        l.kind = Kind::Other;
        l.hasValue = false;
        std::size_t f = l.begin;
        while (f < l.end && isBlank(text[f]))
            ++f;
        if (f < l.end && text[f] == '[') {
            const std::size_t close = text.find(']', f + 1);
            if (close != std::string_view::npos && close < l.end) {
                l.kind = Kind::Section;
                l.name = trim(text, f + 1, close);
            }
        } else if (f < l.end) {
            l.kind = Kind::Entry;
            const std::size_t eq = text.find('=', f);
            if (eq != std::string_view::npos && eq < l.end) {
                l.hasValue = true;
                l.name = trim(text, f, eq);
                l.value = trim(text, eq + 1, l.end);
                const std::size_t n = l.value.size();
                if (n >= 2 && (l.value[0] == '"' || l.value[0] == '\'') && l.value[n - 1] == l.value[0])
                    l.value = l.value.substr(1, n - 2);
            } else {
                l.name = trim(text, f, l.end);
            }
        }
        lines.push_back(std::move(l));
        p = lines.back().next;
    }
    return lines;
}

std::u16string trimmed(const std::u16string& s) {
    const char16_t* blanks = u" \t\v\f";
    const std::size_t b = s.find_first_not_of(blanks);
    if (b == std::u16string::npos)
        return std::u16string();
    return s.substr(b, s.find_last_not_of(blanks) + 1 - b);
}

char16_t fold(char16_t c) {
    if (c < 0x80)
        return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c;
    // wint_t is 16-bit on Windows and 32-bit elsewhere: compare in a type wide enough for both.
    const unsigned long l = static_cast<unsigned long>(std::towlower(static_cast<std::wint_t>(c)));
    return l < 0x10000ul ? static_cast<char16_t>(l) : c;
}

bool sameName(const std::string& utf8, const std::u16string& want) {
    // Cheap ASCII path first; decode only when the bytes are not plain ASCII.
    bool ascii = true;
    for (char c : utf8)
        if (static_cast<unsigned char>(c) >= 0x80)
            ascii = false;
    if (ascii) {
        if (utf8.size() != want.size())
            return false;
        for (std::size_t i = 0; i < want.size(); ++i)
            if (fold(static_cast<char16_t>(static_cast<unsigned char>(utf8[i]))) != fold(want[i]))
                return false;
        return true;
    }
    const std::u16string have = fromUtf8(utf8);
    if (have.size() != want.size())
        return false;
    for (std::size_t i = 0; i < want.size(); ++i)
        if (fold(have[i]) != fold(want[i]))
            return false;
    return true;
}

// The lines of the first occurrence of `section`: [header, stop) with the header's index, or
// header = -1. Later occurrences are never read or written.
struct Block {
    long header = -1;
    std::size_t stop = 0;
};

Block findSection(const std::vector<Line>& lines, const std::u16string& section) {
    Block b;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].kind != Kind::Section)
            continue;
        if (b.header >= 0) {
            b.stop = i;
            return b;
        }
        if (sameName(lines[i].name, section))
            b.header = static_cast<long>(i);
    }
    b.stop = lines.size();
    return b;
}

// Index of the first entry of `key` in the block, or -1.
long findEntry(const std::vector<Line>& lines, const Block& block, const std::u16string& key) {
    if (block.header < 0)
        return -1;
    for (std::size_t i = static_cast<std::size_t>(block.header) + 1; i < block.stop; ++i)
        if (lines[i].kind == Kind::Entry && sameName(lines[i].name, key))
            return static_cast<long>(i);
    return -1;
}

// The line end of the file's first line (CR LF for a file without one).
std::string lineEndOf(std::string_view text) {
    const std::size_t brk = text.find_first_of("\r\n");
    if (brk == std::string_view::npos)
        return "\r\n";
    if (text[brk] == '\n')
        return "\n";
    return brk + 1 < text.size() && text[brk + 1] == '\n' ? "\r\n" : "\r";
}

// Ends a last line that has no line end. A last line ending in a lone CR already has one; in a
// CR LF file it gets the missing LF.
void endLine(std::string& out, const std::string& eol) {
    if (out.empty() || out.back() == '\n')
        return;
    if (out.back() == '\r') {
        if (eol == "\r\n")
            out += '\n';
        return;
    }
    out += eol;
}

}  // namespace

bool storable(const std::u16string& section, const std::u16string& key,
              const std::u16string& value) {
    const auto hasAny = [](const std::u16string& s, const char16_t* chars) {
        return s.find_first_of(chars) != std::u16string::npos;
    };
    const std::u16string k = trimmed(key);
    return !hasAny(section, u"\r\n]") && !hasAny(key, u"\r\n=") && (k.empty() || k[0] != u'[') &&
           !hasAny(value, u"\r\n");
}

bool lookup(std::string_view text, const std::u16string& section, const std::u16string& key,
            std::u16string* value) {
    const std::vector<Line> lines = scan(text);
    const long i = findEntry(lines, findSection(lines, trimmed(section)), trimmed(key));
    if (i < 0 || !lines[static_cast<std::size_t>(i)].hasValue)
        return false;
    if (value)
        *value = fromUtf8(lines[static_cast<std::size_t>(i)].value);
    return true;
}

std::string update(std::string_view text, const std::u16string& section,
                   const std::u16string& key, const std::u16string& value) {
    const std::vector<Line> lines = scan(text);
    const std::string eol = lineEndOf(text);
    const std::u16string name = trimmed(section), k = trimmed(key);
    const std::size_t lead = value.find_first_not_of(u" \t\v\f");
    const std::string v = lead == std::u16string::npos ? std::string() : toUtf8(value.substr(lead));

    const Block block = findSection(lines, name);
    const long hit = findEntry(lines, block, k);
    if (hit >= 0) {
        // The key keeps the file's spelling; only the value changes.
        const Line& l = lines[static_cast<std::size_t>(hit)];
        std::string out(text.substr(0, l.begin));
        out += l.name + "=" + v;
        out += text.substr(l.end);
        return out;
    }
    std::string out;
    if (block.header >= 0) {
        // After the block's last entry, bare keys and comment lines included (its header when
        // it has none), before the blank lines that part it from the next section.
        std::size_t at = static_cast<std::size_t>(block.header);
        for (std::size_t i = at + 1; i < block.stop; ++i)
            if (lines[i].kind == Kind::Entry)
                at = i;
        out = text.substr(0, lines[at].next);
        endLine(out, eol);
        out += toUtf8(k) + "=" + v + eol;
        out += text.substr(lines[at].next);
        return out;
    }
    out = text;
    endLine(out, eol);
    out += "[" + toUtf8(name) + "]" + eol + toUtf8(k) + "=" + v + eol;
    return out;
}

}  // namespace ini
}  // namespace platform
