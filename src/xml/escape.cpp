// Escaping and unescaping of character data and attribute values: the five predefined
// entities and numeric character references.
#include "platform/utf8.h"
#include "xml/xml_internal.h"

using namespace nxxml;

namespace {

// The escape table: character, entity written, name recognised after "&".
struct Entity {
    char16_t ch;
    const char16_t* entity;
    const char16_t* name;
    int nameLen;
};
const Entity kEntities[5] = {
    {u'<', u"&lt;", u"lt;", 3},
    {u'&', u"&amp;", u"amp;", 4},
    {u'>', u"&gt;", u"gt;", 3},
    {u'\'', u"&apos;", u"apos;", 5},
    {u'"', u"&quot;", u"quot;", 5},
};

bool isAsciiLetter(char16_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Does the "&" at p begin an entity or character reference ("&name;", "&#123;", "&#x7B;")?
bool beginsReference(const char16_t* p) {
    const char16_t first = p[1];
    if (!(isAsciiLetter(first) || first == '#' || first == '_' || first == ':' || first >= 0x80))
        return false;
    for (const char16_t* q = p + 2;; ++q) {
        const char16_t c = *q;
        if (c == ';')
            return true;
        if (c >= 0x80 || isAsciiLetter(c) || (c >= '0' && c <= '9') || c == '_' || c == ':' ||
            c == '-' || c == '.')
            continue;
        return false;
    }
}

// Reads a number as the C library's wide string-to-long conversion does: leading white space,
// an optional sign, an optional "0x" in base 16, then the digits of the base.
long readNumber(const char16_t* p, int base) {
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    auto digit = [base](char16_t c) -> int {
        int d = -1;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'a' && c <= 'z')
            d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'Z')
            d = c - 'A' + 10;
        return d < base ? d : -1;
    };
    if (base == 16 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && digit(p[2]) >= 0)
        p += 2;
    long value = 0;
    for (int d; (d = digit(*p)) >= 0; ++p)
        value = value * base + d;
    return negative ? -value : value;
}

}  // namespace

std::u16string CMarkup::EscapeText(MCD_CSTR nodeText, int flags) {
    std::u16string out;
    const char16_t* p = nodeText.pcsz;
    if (!p)
        return out;
    const std::size_t len = platform::utf::length16(p);
    out.reserve(len + len / 10 + 7);
    const bool quotes = (flags & OPT_ESCAPE_QUOTES) != 0;
    const bool keepRefs = (flags & OPT_KEEP_REFS) != 0;
    for (;;) {
        const char16_t* run = p;
        while (!(charClass(*p) & CC_ESCAPE))
            ++p;
        out.append(run, static_cast<std::size_t>(p - run));
        const char16_t ch = *p;
        if (!ch)
            break;
        if ((ch == '\'' || ch == '"') && !quotes) {
            out += ch;
            ++p;
            continue;
        }
        if (ch == '&' && keepRefs && beginsReference(p)) {
            const char16_t* semi = p;
            while (*semi != ';')
                ++semi;
            out.append(p, static_cast<std::size_t>(semi + 1 - p));
            p = semi + 1;
            continue;
        }
        for (const Entity& e : kEntities) {
            if (e.ch == ch) {
                out += e.entity;
                break;
            }
        }
        ++p;
    }
    return out;
}

std::u16string CMarkup::UnescapeText(MCD_CSTR nodeText, int textLength) {
    std::u16string out;
    const char16_t* s = nodeText.pcsz;
    if (!s)
        return out;
    if (textLength < 0)
        textLength = toInt(platform::utf::length16(s));
    const std::size_t length = static_cast<std::size_t>(textLength > 0 ? textLength : 0);
    const char16_t* amp = std::char_traits<char16_t>::find(s, length, u'&');
    if (!amp)
        return std::u16string(s, length);  // most values hold no reference
    out.reserve(length);
    out.append(s, static_cast<std::size_t>(amp - s));
    int i = static_cast<int>(amp - s);
    while (i < textLength) {
        const int run = i;
        while (i < textLength && s[i] != '&')
            ++i;
        out.append(s + run, static_cast<std::size_t>(i - run));
        if (i >= textLength)
            break;
        // s[i] is "&".
        if (s[i + 1] == '#') {
            int digits = i + 2;
            int base = 10;
            if (s[digits] == 'x') {
                ++digits;
                base = 16;
            }
            int k = 0;
            while (k < 8 && s[digits + k] && s[digits + k] != ';')
                ++k;
            if (k < 8 && s[digits + k] == ';') {
                const long value = readNumber(s + digits, base);
                if (value != 0) {
                    out += static_cast<char16_t>(static_cast<unsigned long>(value) & 0xFFFF);
                    i = digits + k + 1;
                    continue;
                }
            }
            out += u'&';
            ++i;
            continue;
        }
        bool replaced = false;
        for (const Entity& e : kEntities) {
            if (i + 1 + e.nameLen > textLength)
                continue;
            bool same = true;
            for (int j = 0; j < e.nameLen && same; ++j)
                same = s[i + 1 + j] == e.name[j];
            if (same) {
                out += e.ch;
                i += 1 + e.nameLen;
                replaced = true;
                break;
            }
        }
        if (!replaced) {
            out += u'&';
            ++i;
        }
    }
    return out;
}
