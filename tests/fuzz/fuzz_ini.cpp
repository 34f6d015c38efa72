// Fuzz target of the INI store's text engine: a fuzzed file gets one key set; the key then reads
// back as written, every other line of the file is still there, and the entries that were
// readable before read the same.
// Input: section, key and value separated by zero bytes, then the file text.
#include "fuzz_util.h"
#include "platform/codepage.h"
#include "platform/ini.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

using nxfuzz::check;

namespace {

std::u16string decode(const std::string& s) {
    return nxfuzz::converted<std::u16string>([&s](char16_t* out, int n) {
        return s.empty() ? 0 : platform::multiByteToWideChar(platform::kCodePageUtf8, 0, s.data(),
                                                             static_cast<int>(s.size()), out, n);
    });
}

// A name or value that the file format can carry: one line, no blanks at its ends; names also
// without the characters that would make the line a section or split the entry.
std::u16string storable(const std::u16string& s, const char16_t* banned = u"") {
    std::u16string out;
    for (char16_t c : s)
        if (c != u'\n' && c != u'\r' && std::u16string(banned).find(c) == std::u16string::npos)
            out += c;
    const char16_t* blanks = u" \t\v\f";
    const std::size_t first = std::min(out.find_first_not_of(blanks), out.size());
    return out.substr(first, out.find_last_not_of(blanks) + 1 - first);
}

std::u16string lowerAscii(std::u16string s) {
    for (char16_t& c : s)
        c = c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c;
    return s;
}

// Section and key names that appear in the text, found by a rough look at its lines.
std::vector<std::pair<std::u16string, std::u16string>> probesOf(const std::string& text) {
    std::vector<std::pair<std::u16string, std::u16string>> probes;
    std::u16string section;
    for (std::size_t p = 0, e = 0; p < text.size() && probes.size() < 16; p = e + 1) {
        e = std::min(text.find_first_of("\r\n", p), text.size());
        const std::u16string t = storable(decode(text.substr(p, e - p)));
        const std::size_t close = t.find(u']');
        if (!t.empty() && t[0] == u'[')
            section = storable(t.substr(1, close == std::u16string::npos ? close : close - 1));
        else if (t.find(u'=') != std::u16string::npos)
            probes.push_back({section, storable(t.substr(0, t.find(u'=')))});
    }
    return probes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string all(reinterpret_cast<const char*>(data), size);
    std::string parts[3];
    std::size_t p = 0;
    for (std::string& part : parts) {
        const std::size_t z = all.find('\0', p);
        if (z == std::string::npos)
            return 0;
        part = all.substr(p, z - p);
        p = z + 1;
    }
    const std::string text = all.substr(p);
    const std::u16string section = storable(decode(parts[0]), u"[]");
    const std::u16string key = storable(decode(parts[1]), u"[];=");
    std::u16string value = storable(decode(parts[2]));
    if (value.size() >= 2 && (value[0] == u'"' || value[0] == u'\'') && value.back() == value[0])
        value += u'.';  // a quoted value would lose its quotes when read back
    if (key.empty())
        return 0;

    std::u16string before, after;
    const bool existed = platform::ini::lookup(text, section, key, &before);
    const std::string updated = platform::ini::update(text, section, key, value);
    check(platform::ini::lookup(updated, section, key, &after), "a written key can be read");
    check(after == value, "a written key reads back its value");

    // Every other byte of the file stays: the change is one stretch of the text.
    std::size_t head = 0;
    while (head < text.size() && head < updated.size() && text[head] == updated[head])
        ++head;
    std::size_t tail = 0;
    while (tail < text.size() - head && tail < updated.size() - head &&
           text[text.size() - 1 - tail] == updated[updated.size() - 1 - tail])
        ++tail;
    const std::string removed = text.substr(head, text.size() - head - tail),
                      added = updated.substr(head, updated.size() - head - tail);
    // No line end is removed: a write changes one line (an entry, or a bare key it fills in)
    // or inserts whole lines.
    check(removed.find_first_of("\r\n") == std::string::npos, "a write removes no line end");
    if (existed)
        check(added.find_first_of("\r\n") == std::string::npos, "replacing an entry changes one line");

    // Entries that could be read before read the same, the one written excepted.
    for (const auto& probe : probesOf(text)) {
        if (!nxfuzz::isAscii(probe.first + probe.second + section + key) ||
            lowerAscii(probe.first + u"]" + probe.second) == lowerAscii(section + u"]" + key))
            continue;  // the entry written (no section name holds "]")
        std::u16string v1, v2;
        const bool r1 = platform::ini::lookup(text, probe.first, probe.second, &v1);
        const bool r2 = platform::ini::lookup(updated, probe.first, probe.second, &v2);
        check(r1 == r2 && v1 == v2, "other entries keep their values");
    }
    return 0;
}
