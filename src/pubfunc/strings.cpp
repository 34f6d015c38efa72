// pubfunc strings: code-page conversion, URL encoding, hexadecimal text, bounded random numbers,
// splitting and case mapping.
#include "pubfunc/pubfunc.h"

#include "platform/codepage.h"

#include <cstdlib>
#include <ctime>
#include <cwctype>

namespace {

const char kUpperHex[] = "0123456789ABCDEF";
const char kLowerHex[] = "0123456789abcdef";

bool isUrlSafe(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '.';
}

// Whether a mapped character is one UTF-16 unit (wint_t is 16-bit on Windows, 32 elsewhere).
bool isOneUnit(unsigned long c) { return c <= 0xFFFFul; }

// The runtime generator limited to 0..32767, the range the arithmetic below assumes.
unsigned int draw() { return static_cast<unsigned int>(std::rand()) & 0x7FFFu; }

}  // namespace

std::u16string pubfunc::toWideString(const char* text, int length, unsigned int codePage) {
    if (!text || length < -1)
        return std::u16string();
    int size = platform::multiByteToWideChar(codePage, 0, text, length, nullptr, 0);
    if (size <= 0)
        return std::u16string();
    // A zero-terminated input counted its terminator; the result carries none of its own.
    std::u16string out(static_cast<std::size_t>(size), u'\0');
    platform::multiByteToWideChar(codePage, 0, text, length, &out[0], size);
    if (length == -1)
        out.pop_back();
    return out;
}

std::string pubfunc::toNarrowString(const char16_t* text, int length, unsigned int codePage) {
    if (!text || length < -1)
        return std::string();
    const int size =
        platform::wideCharToMultiByte(codePage, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return std::string();
    std::string out(static_cast<std::size_t>(size), '\0');
    platform::wideCharToMultiByte(codePage, 0, text, length, &out[0], size, nullptr, nullptr);
    if (length == -1)
        out.pop_back();
    return out;
}

std::string pubfunc::URLEncode2(const std::string& text) {
    std::string out;
    out.reserve(text.size() * 3);
    for (char ch : text) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c == 0)
            break;
        if (isUrlSafe(c)) {
            out += ch;
        } else {
            out += '%';
            out += kUpperHex[c >> 4];
            out += kUpperHex[c & 0x0F];
        }
    }
    return out;
}

std::string pubfunc::URLEncode2(const std::u16string& text) {
    return URLEncode2(toNarrowString(text.c_str(), -1, platform::kCodePageUtf8));
}

std::string pubfunc::getHashString(const char* bytes, int count) {
    if (!bytes || count <= 0)
        return std::string();
    std::string out(static_cast<std::size_t>(count) * 2, '0');
    for (int i = 0; i < count; ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        out[2 * i] = kLowerHex[c >> 4];
        out[2 * i + 1] = kLowerHex[c & 0x0F];
    }
    return out;
}

unsigned int pubfunc::GetRandomNum(unsigned int low, unsigned int high) {
    if (low == high)
        return low;
    if (low > high)
        return high;
    std::srand(static_cast<unsigned int>(std::time(nullptr)));
    const unsigned int r = draw();
    if (r <= high - low)
        return low + r;
    // Wider ranges: scale a second draw and round half down, never past `high`.
    const unsigned int range = high - low + 1u;  // 0 for the full 32-bit range, as unsigned
    const double v = static_cast<double>(draw()) * (static_cast<double>(range) / 32767.0) +
                     static_cast<double>(low);
    const unsigned int t = static_cast<unsigned int>(static_cast<unsigned long long>(v));
    if (v - static_cast<double>(t) > 0.5 && t != 0xFFFFFFFFu && t + 1u <= high)
        return t + 1u;
    return t;
}

void pubfunc::splitString(const std::u16string& text, const std::u16string& separator,
                          std::vector<std::u16string>& pieces) {
    if (separator.empty()) {
        pieces.push_back(text);
        return;
    }
    std::size_t p = 0;
    for (;;) {
        const std::size_t i = text.find(separator, p);
        if (i == std::u16string::npos)
            break;
        pieces.push_back(text.substr(p, i - p));
        p = i + separator.size();
    }
    pieces.push_back(text.substr(p));
}

void pubfunc::ToLower(std::u16string& text) {
    for (char16_t& c : text) {
        const std::wint_t m = std::towlower(static_cast<std::wint_t>(c));
        if (isOneUnit(static_cast<unsigned long>(m)))
            c = static_cast<char16_t>(m);
    }
}

void pubfunc::ToUpper(std::u16string& text) {
    for (char16_t& c : text) {
        const std::wint_t m = std::towupper(static_cast<std::wint_t>(c));
        if (isOneUnit(static_cast<unsigned long>(m)))
            c = static_cast<char16_t>(m);
    }
}
