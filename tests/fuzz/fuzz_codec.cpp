// Fuzz target of the code-page conversion and of NxTextCodec: sizes queried then converted,
// strict against replacing decoding, the valid-prefix query, round trips, and the codec's
// results against the platform calls they are built on.
// Byte 0 picks the direction (bit 0: decode bytes, else encode UTF-16 units), the code page
// (bits 2-3: UTF-8, ANSI, 1252, 936) and whether the payload is repeated past the codec's
// 4096-unit local buffers (bits 1, 4 and 5 all set: kept rare, as long inputs are slow under
// the sanitizers).
#include "fuzz_util.h"
#include "platform/codepage.h"
#include "platform/error.h"
#include "text/text.h"

#include <string>

using nxfuzz::check;

namespace {

const unsigned int kPages[4] = {platform::kCodePageUtf8, platform::kCodePageAnsi, 1252, 936};

std::u16string decode(unsigned int cp, unsigned int flags, const std::string& in, bool* ok) {
    const int len = static_cast<int>(in.size());
    const int n = platform::multiByteToWideChar(cp, flags, in.data(), len, nullptr, 0);
    *ok = n > 0;
    if (n <= 0)
        return std::u16string();
    std::u16string out(static_cast<std::size_t>(n), u'\0');
    check(platform::multiByteToWideChar(cp, flags, in.data(), len, &out[0], n) == n,
          "decoding fills exactly the size it reported");
    if (n > 1) {
        check(platform::multiByteToWideChar(cp, flags, in.data(), len, &out[0], n - 1) == 0 &&
                  platform::lastError().code == platform::kErrorInsufficientBuffer,
              "decoding into one unit too few fails with 122");
    }
    return out;
}

std::string encode(unsigned int cp, unsigned int flags, const std::u16string& in, bool* ok,
                   bool* usedDefault) {
    const int len = static_cast<int>(in.size());
    const int n = platform::wideCharToMultiByte(cp, flags, in.data(), len, nullptr, 0, nullptr,
                                                usedDefault);
    *ok = n > 0;
    if (n <= 0)
        return std::string();
    std::string out(static_cast<std::size_t>(n), '\0');
    check(platform::wideCharToMultiByte(cp, flags, in.data(), len, &out[0], n, nullptr,
                                        usedDefault) == n,
          "encoding fills exactly the size it reported");
    if (n > 1) {
        check(platform::wideCharToMultiByte(cp, flags, in.data(), len, &out[0], n - 1, nullptr,
                                            nullptr) == 0 &&
                  platform::lastError().code == platform::kErrorInsufficientBuffer,
              "encoding into one byte too few fails with 122");
    }
    return out;
}

std::u16string unitsOf(const NxString& s) { return std::u16string(s.constString(), s.size()); }

void fuzzDecode(unsigned int cp, const std::string& in) {
    const bool utf8 = cp == platform::kCodePageUtf8 || cp == platform::kCodePageAnsi;
    bool ok = false;
    const std::u16string loose = decode(cp, 0, in, &ok);
    bool strictOk = false;
    const std::u16string strict = decode(cp, platform::kMbErrInvalidChars, in, &strictOk);
    const int strictError = platform::lastError().code;
    if (strictOk)
        check(strict == loose, "strict and replacing decoding agree on valid input");
    if (!utf8)
        return;
    check(ok, "replacing UTF-8 decoding never fails");
    check(nxfuzz::repairSurrogates(loose) == loose, "decoded UTF-8 holds no lone surrogate");

    const int len = static_cast<int>(in.size());
    const int prefix = platform::multiByteValidPrefix(cp, in.data(), len);
    check(prefix >= 0 && prefix <= len, "valid prefix lies inside the input");
    check(strictOk == (prefix == len), "strict decoding fails exactly when the prefix is short");
    if (!strictOk)
        check(strictError == platform::kErrorNoUnicodeTranslation, "strict decoding reports 1113");
    std::u16string head;
    if (prefix > 0) {
        bool headOk = false;
        head = decode(cp, platform::kMbErrInvalidChars, in.substr(0, prefix), &headOk);
        check(headOk, "the valid prefix decodes strictly");
    }
    if (prefix < len) {
        bool restOk = false;
        decode(cp, platform::kMbErrInvalidChars, in.substr(prefix), &restOk);
        check(!restOk, "the text after the valid prefix starts with an invalid sequence");
    }

    // Re-encoding the decoded text gives the input back when it was valid, and decodes to the
    // same units in any case.
    bool encOk = false;
    const std::string again = encode(cp, 0, loose, &encOk, nullptr);
    check(encOk, "decoded text encodes");
    if (prefix == len)
        check(again == in, "valid UTF-8 survives a round trip");
    bool reOk = false;
    check(decode(cp, 0, again, &reOk) == loose, "re-encoded text decodes to the same units");

    // The codec keeps the longest valid prefix.
    const NxTextCodec codec(cp == platform::kCodePageUtf8 ? NxTextCodec::Utf8 : NxTextCodec::Ansi);
    const NxString s = codec.toUnicode(in.data(), len);
    check(!s.isNull() && unitsOf(s) == head, "toUnicode gives the decoded valid prefix");
    // With -1 the text runs through its first zero byte, which must then decode strictly.
    const std::string z(in.c_str());
    const NxString t = codec.toUnicode(in.c_str(), -1);
    bool zOk = true;
    std::u16string zUnits = z.empty() ? std::u16string() : decode(cp, platform::kMbErrInvalidChars, z, &zOk);
    if (zOk)
        check(unitsOf(t) == zUnits + u'\0', "toUnicode(-1) includes the terminating zero");
    else
        check(t.size() == 0 && !t.isNull(), "toUnicode(-1) of invalid text is empty");
}

void fuzzEncode(unsigned int cp, const std::u16string& in) {
    const bool utf8 = cp == platform::kCodePageUtf8 || cp == platform::kCodePageAnsi;
    if (in.empty())
        return;
    bool ok = false;
    bool usedDefault = true;
    // The UTF-8 page takes no default character; the others report whether they used one.
    const bool utf8Page = cp == platform::kCodePageUtf8;
    const std::string bytes = encode(cp, 0, in, &ok, utf8Page ? nullptr : &usedDefault);
    check(ok, "encoding never fails");
    bool backOk = false;
    const std::u16string back = decode(cp, 0, bytes, &backOk);
    const bool valid = nxfuzz::repairSurrogates(in) == in;
    if (!utf8) {
        if (!usedDefault && valid)
            check(back == in, "text encoded without default characters decodes back");
        return;
    }
    if (utf8Page) {
        check(back == nxfuzz::repairSurrogates(in), "UTF-8 round trip replaces only lone surrogates");
        bool strictOk = false;
        const std::string strict = encode(cp, platform::kWcErrInvalidChars, in, &strictOk, nullptr);
        check(strictOk == valid, "strict encoding fails exactly on lone surrogates");
        if (strictOk)
            check(strict == bytes, "strict and replacing encoding agree on valid input");
    } else {
        // The ANSI page (UTF-8 here) puts its default character '?' for a lone surrogate.
        check(back == nxfuzz::repairSurrogates(in, u'?'), "ANSI round trip replaces only lone surrogates");
        check(usedDefault == !valid, "the ANSI page reports its default character");
    }

    const NxTextCodec codec(cp == platform::kCodePageUtf8 ? NxTextCodec::Utf8 : NxTextCodec::Ansi);
    const NxByteArray a = codec.fromUnicode(in.data(), static_cast<int>(in.size()));
    check(std::string(a.constData(), static_cast<std::size_t>(a.size())) == bytes,
          "fromUnicode gives the platform's bytes");
    const std::u16string z(in.c_str());
    const NxByteArray b = codec.fromUnicode(in.c_str(), -1);
    bool zOk = false;
    const std::string zBytes = z.empty() ? std::string() : encode(cp, 0, z, &zOk, nullptr);
    check(std::string(b.constData(), static_cast<std::size_t>(b.size())) == zBytes + '\0',
          "fromUnicode(-1) includes the terminating zero");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    const unsigned mode = data[0];
    const unsigned int cp = kPages[(mode >> 2) & 3];
    std::string payload(reinterpret_cast<const char*>(data + 1), size - 1);
    if ((mode & 0x32) == 0x32) {
        const std::string unit = payload;
        while (payload.size() <= 8400)
            payload += unit;
    }
    if (mode & 1)
        fuzzDecode(cp, payload);
    else
        fuzzEncode(cp, nxfuzz::unitsOf(reinterpret_cast<const std::uint8_t*>(payload.data()),
                                       payload.size()));
    return 0;
}
