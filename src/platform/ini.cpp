// The INI text engine: a line scanner shared by lookup and update.
#include "platform/ini.h"
#include "platform/utf8.h"

#include <cwctype>
#include <vector>

namespace platform {
namespace ini {

namespace {

enum class Kind { Other, Section, Comment, Entry };

// One line of the file: [begin, end) without its line end, next = start of the next line.
struct Line {
    std::size_t begin;
    std::size_t end;
    std::size_t next;
    Kind kind;
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

std::vector<Line> scan(std::string_view text) {
    std::vector<Line> lines;
    std::size_t p = 0;
    while (p < text.size()) {
        Line l;
        l.begin = p;
        std::size_t nl = text.find('\n', p);
        l.next = nl == std::string_view::npos ? text.size() : nl + 1;
        l.end = nl == std::string_view::npos ? text.size() : nl;
        if (l.end > l.begin && text[l.end - 1] == '\r')
            --l.end;
        l.kind = Kind::Other;
        std::size_t f = l.begin;
        while (f < l.end && isBlank(text[f]))
            ++f;
        if (f < l.end && text[f] == '[') {
            std::size_t close = text.find(']', f + 1);
            if (close == std::string_view::npos || close > l.end)
                close = l.end;
            l.kind = Kind::Section;
            l.name = trim(text, f + 1, close);
        } else if (f < l.end && text[f] == ';') {
            l.kind = Kind::Comment;
        } else {
            const std::size_t eq = text.find('=', f);
            if (eq != std::string_view::npos && eq < l.end) {
                l.kind = Kind::Entry;
                l.name = trim(text, f, eq);
                l.value = trim(text, eq + 1, l.end);
                const std::size_t n = l.value.size();
                if (n >= 2 && (l.value[0] == '"' || l.value[0] == '\'') && l.value[n - 1] == l.value[0])
                    l.value = l.value.substr(1, n - 2);
            }
        }
        lines.push_back(std::move(l));
        p = lines.back().next;
    }
    return lines;
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

// Index of the first entry of `key` in any occurrence of `section`, or -1.
long findEntry(const std::vector<Line>& lines, const std::u16string& section,
               const std::u16string& key) {
    bool inSection = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].kind == Kind::Section)
            inSection = sameName(lines[i].name, section);
        else if (inSection && lines[i].kind == Kind::Entry && sameName(lines[i].name, key))
            return static_cast<long>(i);
    }
    return -1;
}

// Ends a last line that has no line end. A last line ending in a carriage return gets only
// the line feed: a whole new line end would leave that carriage return in the line's value.
void endLine(std::string& out, const std::string& eol) {
    if (out.empty() || out.back() == '\n')
        return;
    out += out.back() == '\r' ? std::string("\n") : eol;
}

}  // namespace

bool storable(const std::u16string& section, const std::u16string& key,
              const std::u16string& value) {
    const auto hasAny = [](const std::u16string& s, const char16_t* chars) {
        return s.find_first_of(chars) != std::u16string::npos;
    };
    const std::size_t first = key.find_first_not_of(u" \t\v\f");
    const bool keyLooksOther = first != std::u16string::npos && (key[first] == u'[' || key[first] == u';');
    return !hasAny(section, u"\r\n]") && !hasAny(key, u"\r\n=") && !keyLooksOther &&
           !hasAny(value, u"\r\n");
}

bool lookup(std::string_view text, const std::u16string& section, const std::u16string& key,
            std::u16string* value) {
    const std::vector<Line> lines = scan(text);
    const long i = findEntry(lines, section, key);
    if (i < 0)
        return false;
    if (value)
        *value = fromUtf8(lines[static_cast<std::size_t>(i)].value);
    return true;
}

std::string update(std::string_view text, const std::u16string& section,
                   const std::u16string& key, const std::u16string& value) {
    const std::vector<Line> lines = scan(text);
    const std::string eol =
        !lines.empty() && lines[0].next > lines[0].end + 1 ? std::string("\r\n") : std::string("\n");
    const std::string entry = toUtf8(key) + "=" + toUtf8(value);

    const long hit = findEntry(lines, section, key);
    if (hit >= 0) {
        // The key keeps the file's spelling; only the value changes.
        const Line& l = lines[static_cast<std::size_t>(hit)];
        std::string out(text.substr(0, l.begin));
        out += l.name + "=" + toUtf8(value);
        out += text.substr(l.end);
        return out;
    }

    // After the last entry of the section's first occurrence (or right after its header).
    long header = -1;
    std::size_t insertAt = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].kind == Kind::Section) {
            if (header >= 0)
                break;
            if (sameName(lines[i].name, section)) {
                header = static_cast<long>(i);
                insertAt = i;
            }
        } else if (header >= 0 && lines[i].kind == Kind::Entry) {
            insertAt = i;
        }
    }
    std::string out;
    if (header >= 0) {
        const Line& after = lines[insertAt];
        out = text.substr(0, after.next);
        endLine(out, eol);
        out += entry + eol;
        out += text.substr(after.next);
        return out;
    }
    out = text;
    if (!out.empty())
        endLine(out, eol);
    out += "[" + toUtf8(section) + "]" + eol + entry + eol;
    return out;
}

}  // namespace ini
}  // namespace platform
