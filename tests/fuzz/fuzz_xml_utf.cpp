// Fuzz target of the XML statics that convert between UTF-8 and UTF-16: whole-text conversions
// against a character-by-character decode, counting against filling, bounded output, and
// single code points encoded and decoded back.
// Byte 0: bit 0 picks the direction; the other bits bound the UTF-8 output buffer.
#include "fuzz_util.h"
#include "xml/xml.h"

#include <string>

using nxfuzz::check;

namespace {

// The code point encoded by one of the statics (CMarkup::EncodeCharUTF8 or ...UTF16).
template <typename Unit>
std::basic_string<Unit> encoded(void (*encode)(int, Unit*, int&), int c) {
    Unit units[4];
    int n = 0;
    encode(c, units, n);
    return std::basic_string<Unit>(units, static_cast<std::size_t>(n));
}

void fuzzUtf8(const std::string& in) {
    // The reference: one character at a time from a zero-terminated copy, "?" for an invalid
    // one, ending after a decoded zero. Every code point that decoded must also survive UTF-8
    // encoding and decoding on its own.
    std::u16string want;
    bool sawZero = false;
    for (const char *p = in.c_str(), *end = p + in.size(); p < end;) {
        const int c = CMarkup::DecodeCharUTF8(p);
        if (!sawZero && c)
            want += encoded(CMarkup::EncodeCharUTF16, c == -1 ? '?' : c);
        sawZero = sawZero || c == 0;
        if (c <= 0)
            continue;
        const std::string bytes = encoded(CMarkup::EncodeCharUTF8, c);
        int counted = 0;
        CMarkup::EncodeCharUTF8(c, nullptr, counted);
        check(counted == static_cast<int>(bytes.size()) && counted >= 1 && counted <= 4,
              "UTF-8 length counted as written");
        const char* q = bytes.c_str();
        check(c > 0x1FFFFF || (CMarkup::DecodeCharUTF8(q) == c && q == bytes.c_str() + counted),
              "code point round trip");
    }
    const int count = static_cast<int>(in.size());
    const int needed = CMarkup::UTF8To16(nullptr, in.data(), count);
    check(needed == static_cast<int>(want.size()), "UTF8To16 counts the reference's units");
    std::u16string got(static_cast<std::size_t>(needed) + 1, u'\x7777');
    CMarkup::UTF8To16(&got[0], in.data(), count);
    check(got.compare(0, want.size(), want) == 0, "UTF8To16 writes the reference's units");
    check(!sawZero || got[want.size()] == 0, "a decoded zero is stored");
}

void fuzzUtf16(const std::u16string& units, unsigned bound) {
    const std::u16string in(units.c_str());  // the conversion reads up to the zero
    const int needed = CMarkup::UTF16To8(nullptr, in.c_str(), 0);
    std::string full(static_cast<std::size_t>(needed) + 1, '\x77');
    check(CMarkup::UTF16To8(&full[0], in.c_str(), needed + 1) == needed &&
              full[static_cast<std::size_t>(needed)] == 0,
          "UTF16To8 fills and terminates the size it counted");
    full.resize(static_cast<std::size_t>(needed));

    // Reference: code points one at a time, "?" for an invalid one.
    std::string want;
    std::u16string again;
    for (const char16_t* p = in.c_str(); *p;) {
        int c = CMarkup::DecodeCharUTF16(p);
        c = c == -1 ? '?' : c;
        want += encoded(CMarkup::EncodeCharUTF8, c);
        again += encoded(CMarkup::EncodeCharUTF16, c);
    }
    check(full == want, "UTF16To8 writes the reference's bytes");

    // Converting back gives every character re-encoded.
    check(nxfuzz::converted<std::u16string>([&](char16_t* out, int) {
              return CMarkup::UTF8To16(out, full.data(), needed);
          }) == again,
          "UTF-16 to UTF-8 and back keeps every character");

    // A bounded buffer holds whole characters only: a prefix of the full output.
    int room = static_cast<int>(bound % (static_cast<unsigned>(needed) + 8));
    if (bound & 64)
        room = needed > static_cast<int>(bound & 7) ? needed - static_cast<int>(bound & 7) : 0;
    std::string part(static_cast<std::size_t>(room) + 4, '\x55');
    const int wrote = CMarkup::UTF16To8(&part[0], in.c_str(), room);
    check(wrote >= 0 && wrote <= room, "bounded output stays in its room");
    check(full.compare(0, static_cast<std::size_t>(wrote), part, 0,
                       static_cast<std::size_t>(wrote)) == 0,
          "bounded output is a prefix of the full output");
    if (wrote < needed) {
        const char* q = full.c_str() + wrote;
        check(CMarkup::DecodeCharUTF8(q) != -1, "bounded output stops on a character boundary");
        check(q - (full.c_str() + wrote) > room - wrote,
              "bounded output stops only before a character that does not fit");
    }
    check(wrote >= room || part[static_cast<std::size_t>(wrote)] == 0,
          "bounded output is terminated when room remains");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    if (data[0] & 1)
        fuzzUtf8(std::string(reinterpret_cast<const char*>(data + 1), size - 1));
    else
        fuzzUtf16(nxfuzz::unitsOf(data + 1, size - 1), data[0] >> 1);
    return 0;
}
