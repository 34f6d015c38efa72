// C streams on POSIX: the UTF-16 path is handed to fopen as UTF-8.
#include "platform/error.h"
#include "platform/file.h"
#include "platform/posix/posix_support.h"

#include <string>

namespace platform {

namespace {

// UTF-16 to UTF-8 for a path; a lone surrogate becomes U+FFFD.
std::string pathToUtf8(const char16_t* s) {
    std::string out;
    for (; s && *s; ++s) {
        char32_t c = *s;
        if (c >= 0xD800 && c <= 0xDBFF && s[1] >= 0xDC00 && s[1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[1] - 0xDC00);
            ++s;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

}  // namespace

std::FILE* openFile(const char16_t* path, const char* mode) {
    const std::string p = pathToUtf8(path);
    if (p.empty()) {
        errno = ENOENT;
        setLastError(ENOENT, "fopen");
        return nullptr;
    }
    std::FILE* f = std::fopen(p.c_str(), mode);
    if (!f)
        setLastError(errno, "fopen");
    return f;
}

}  // namespace platform
