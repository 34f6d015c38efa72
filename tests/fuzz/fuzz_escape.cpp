// Fuzz target of CMarkup::EscapeText and UnescapeText: escaping without OPT_KEEP_REFS is undone
// exactly by unescaping, escaped text holds no markup character, escaping with OPT_KEEP_REFS is
// idempotent, and unescaping never lengthens the text it reads.
// Byte 0: bit 0 OPT_ESCAPE_QUOTES, bit 1 read the rest as UTF-16 units (else UTF-8), the other
// bits an explicit length for UnescapeText.
#include "fuzz_util.h"
#include "xml/xml.h"

#include <string>

using nxfuzz::check;

namespace {

bool isRefStart(char16_t c) {
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c == u'#' || c == u'_' ||
           c == u':' || c >= 0x80;
}

// Escaped text holds no markup character and every "&" of it starts a reference: a name of
// reference characters and a ";".
bool wellEscaped(const std::u16string& s, bool quotes) {
    if (s.find_first_of(quotes ? u"<>\"'" : u"<>") != std::u16string::npos)
        return false;
    for (std::size_t i = s.find(u'&'); i != std::u16string::npos; i = s.find(u'&', i + 1)) {
        std::size_t j = i + 1;
        if (j >= s.size() || !isRefStart(s[j]))
            return false;
        while (j < s.size() && (isRefStart(s[j]) || (s[j] >= u'0' && s[j] <= u'9') ||
                                s[j] == u'-' || s[j] == u'.'))
            ++j;
        if (j >= s.size() || s[j] != u';')
            return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const unsigned mode = data[0];
    const char* bytes = reinterpret_cast<const char*>(data + 1);
    const std::u16string all = (mode & 2) ? nxfuzz::unitsOf(data + 1, size - 1)
        : nxfuzz::converted<std::u16string>([&](char16_t* out, int) {
              return CMarkup::UTF8To16(out, bytes, static_cast<int>(size - 1));
          });
    const std::u16string text(all.c_str());  // both functions read up to the first zero
    const int quotes = (mode & 1) ? CMarkup::OPT_ESCAPE_QUOTES : 0;

    const std::u16string escaped = CMarkup::EscapeText(text.c_str(), quotes);
    check(wellEscaped(escaped, quotes), "escaped text: no markup, every & starts a reference");
    check(CMarkup::UnescapeText(escaped.c_str()) == text, "unescaping undoes escaping");

    const std::u16string kept = CMarkup::EscapeText(text.c_str(), quotes | CMarkup::OPT_KEEP_REFS);
    check(wellEscaped(kept, quotes), "references kept: no markup, every & starts a reference");
    check(CMarkup::EscapeText(kept.c_str(), quotes | CMarkup::OPT_KEEP_REFS) == kept,
          "escaping with references kept is idempotent");
    if (text.find(u'&') == std::u16string::npos)
        check(kept == escaped, "without ampersands both escapings agree");

    const std::u16string plain = CMarkup::UnescapeText(text.c_str());
    check(plain.size() <= text.size(), "unescaping never lengthens the text");
    const int length = static_cast<int>((mode >> 2) % (text.size() + 1));
    const std::u16string head = CMarkup::UnescapeText(text.c_str(), length);
    check(head.size() <= static_cast<std::size_t>(length), "unescaping a prefix stays within it");
    if (text.find(u'&') == std::u16string::npos)
        check(plain == text && head == text.substr(0, static_cast<std::size_t>(length)),
              "text without ampersands unescapes to itself");
    return 0;
}
