// Fuzz target of the string conversions that read outside text: NxString's decimal reading and
// number(), and pubfunc's narrow/wide conversions and URL encoding. Readings are checked
// against what the text says, conversions against each other, encodings by decoding them back.
#include "fuzz_util.h"
#include "pubfunc/pubfunc.h"
#include "text/text.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

using nxfuzz::check;

namespace {

bool urlSafe(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.';
}

int hexValue(char c) {
    return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

// Decodes percent-encoding; false on anything URLEncode2 would not write.
bool urlDecode(const std::string& s, std::string* out) {
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (urlSafe(s[i])) {
            *out += s[i];
            continue;
        }
        if (s[i] != '%' || i + 2 >= s.size() || hexValue(s[i + 1]) < 0 || hexValue(s[i + 2]) < 0)
            return false;
        const char c = static_cast<char>(hexValue(s[i + 1]) * 16 + hexValue(s[i + 2]));
        if (urlSafe(c))
            return false;  // safe characters are never encoded
        *out += c;
        i += 2;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::u16string units = nxfuzz::unitsOf(data, size);

    // Decimal reading: only plain digit strings are accepted.
    const NxString s(units.data(), static_cast<int>(units.size()));
    bool ok = false;
    const int value = s.toInt32(&ok);
    check(ok == (units.find_first_not_of(u"0123456789") == std::u16string::npos),
          "toInt32 accepts exactly the digit strings");
    check(ok || value == 0, "a rejected text reads as 0");
    const std::u16string significant =
        units.substr(std::min(units.find_first_not_of(u'0'), units.size()));
    if (ok && significant.size() <= 9) {
        long want = 0;
        for (char16_t c : significant)
            want = want * 10 + (c - u'0');
        check(value == want, "toInt32 reads the decimal value");
        bool ok2 = false;
        check(s.toUInt32(&ok2) == static_cast<unsigned>(want) && ok2, "toUInt32 reads the same");
    }

    // number() in bases 10 and 16 against the C library.
    int v = 0;
    if (size >= 4)
        std::memcpy(&v, data, 4);
    char ref[32];
    const auto refUnits = [&ref] { return std::u16string(ref, ref + std::strlen(ref)); };
    std::snprintf(ref, sizeof ref, "%d", v);
    check(nxfuzz::unitsOf(NxString::number(v, 10)) == refUnits(),
          "number(v, 10) is the decimal text");
    std::snprintf(ref, sizeof ref, "%x", static_cast<unsigned>(v));
    check(v < 0 || nxfuzz::unitsOf(NxString::number(v, 16)) == refUnits(),
          "number(v, 16) is the hexadecimal text");

    // Narrow and wide conversions agree with each other.
    const std::u16string wide = pubfunc::toWideString(bytes.data(), static_cast<int>(size), 65001);
    const std::u16string wideZ = pubfunc::toWideString(bytes.c_str(), -1, 65001);
    const std::string head(bytes.c_str());
    check(wideZ == pubfunc::toWideString(head.data(), static_cast<int>(head.size()), 65001),
          "a zero-terminated input reads up to its zero");
    check(wide.size() <= size, "UTF-8 never takes fewer bytes than units");
    const std::string narrow =
        pubfunc::toNarrowString(wide.data(), static_cast<int>(wide.size()), 65001);
    check(pubfunc::toWideString(narrow.data(), static_cast<int>(narrow.size()), 65001) == wide,
          "wide text survives a narrow round trip");

    // URL encoding: only safe characters and %XX, decoding back to the bytes before any zero.
    const std::string url = pubfunc::URLEncode2(bytes);
    std::string back;
    check(urlDecode(url, &back), "URL encoding writes safe characters and %XX only");
    check(back == head, "URL encoding decodes to the bytes before the first zero");
    check(pubfunc::URLEncode2(units) ==
              pubfunc::URLEncode2(pubfunc::toNarrowString(units.c_str(), -1, 65001)),
          "wide URL encoding encodes the UTF-8 form");
    return 0;
}
