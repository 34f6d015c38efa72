// UTF-8 and UTF-16 conversion of single code points and of whole texts. Invalid input never
// fails: each character that cannot be decoded becomes "?". Whole texts go through the
// library's UTF-8 converter with its lenient policy for documents.
#include "xml/xml_internal.h"

#include "platform/utf8.h"

#include <cstdint>

int CMarkup::DecodeCharUTF8(const char*& utf8) {
    // The text is zero-terminated: a zero byte ends any sequence before its end is reached.
    std::size_t length = 0;
    const int cp = platform::utf::markupCharacter(reinterpret_cast<const unsigned char*>(utf8),
                                                  SIZE_MAX, &length);
    utf8 += length;
    return cp;
}

void CMarkup::EncodeCharUTF8(int codePoint, char* utf8, int& length) {
    const unsigned cp = static_cast<unsigned>(codePoint);
    length += static_cast<int>(platform::utf::encodeCharacter(cp, utf8 ? utf8 + length : nullptr));
}

int CMarkup::DecodeCharUTF16(const char16_t*& utf16) {
    const unsigned first = *utf16++;
    if ((first & 0xF800) != 0xD800)
        return static_cast<int>(first);
    const unsigned second = *utf16;
    if (!second)
        return -1;
    ++utf16;
    return static_cast<int>((((first & 0x3FF) << 10) | (second & 0x3FF)) + 0x10000);
}

void CMarkup::EncodeCharUTF16(int codePoint, char16_t* utf16, int& length) {
    const unsigned v = static_cast<unsigned>(codePoint);
    if (v > 0xFFFF) {
        if (utf16) {
            utf16[length] = static_cast<char16_t>(0xD800 | (((v - 0x10000) >> 10) & 0x3FF));
            utf16[length + 1] = static_cast<char16_t>(0xDC00 | (v & 0x3FF));
        }
        length += 2;
    } else {
        if (utf16)
            utf16[length] = static_cast<char16_t>(v);
        length += 1;
    }
}

int CMarkup::UTF8To16(char16_t* utf16, const char* utf8, int byteCount) {
    if (!utf8 || byteCount <= 0)
        return 0;
    // The caller's buffer holds the counted units (and a terminator after a zero character):
    // nothing beyond the output is written.
    const platform::utf::Result r =
        platform::utf::utf8To16(utf8, static_cast<std::size_t>(byteCount), utf16,
                                platform::utf::kExactOutput, platform::utf::Policy::Markup);
    if (!utf16)
        return static_cast<int>(r.written);
    if (r.terminated)
        utf16[r.written] = 0;
    return static_cast<int>(r.read);
}

int CMarkup::UTF16To8(char* utf8, const char16_t* utf16, int byteCount) {
    if (!utf16 || !*utf16) {
        if (utf8 && byteCount > 0)
            utf8[0] = 0;
        return 0;
    }
    const std::size_t n = platform::utf::length16(utf16);
    const std::size_t room = utf8 && byteCount > 0 ? static_cast<std::size_t>(byteCount) : 0;
    // Stops before the first character that does not fit.
    const platform::utf::Result r =
        platform::utf::utf16To8(utf16, n, utf8, room, platform::utf::Policy::Markup);
    const int len = static_cast<int>(r.written);
    if (utf8 && len < byteCount)
        utf8[len] = 0;
    return len;
}
