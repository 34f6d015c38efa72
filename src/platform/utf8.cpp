// UTF-8 and UTF-16 for the platform layer's own texts, through the code-page converter.
#include "platform/utf8.h"
#include "platform/codepage.h"

namespace platform {

std::string toUtf8(const std::u16string& text) {
    if (text.empty())
        return std::string();
    const int size = static_cast<int>(text.size());
    const int n = wideCharToMultiByte(kCodePageUtf8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        wideCharToMultiByte(kCodePageUtf8, 0, text.data(), size, &out[0], n, nullptr, nullptr);
    return out;
}

std::string toUtf8(const char16_t* text) { return text ? toUtf8(std::u16string(text)) : std::string(); }

std::u16string fromUtf8(const std::string& text) {
    if (text.empty())
        return std::u16string();
    const int size = static_cast<int>(text.size());
    const int n = multiByteToWideChar(kCodePageUtf8, 0, text.data(), size, nullptr, 0);
    std::u16string out(static_cast<std::size_t>(n > 0 ? n : 0), u'\0');
    if (n > 0)
        multiByteToWideChar(kCodePageUtf8, 0, text.data(), size, &out[0], n);
    return out;
}

}  // namespace platform
