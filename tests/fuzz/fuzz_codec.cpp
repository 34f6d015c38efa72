// Fuzz target of the code-page conversion and of NxTextCodec: sizes queried then converted,
// strict against replacing decoding, the valid-prefix query, round trips, and the codec's
// results against the platform calls they are built on. Byte 0: bit 0 decode (else encode
// UTF-16 units), bits 2-3 the page (UTF-8, ANSI, 1252, 936); bits 1, 4 and 5 all set repeat
// the payload past the codec's 4096-unit local buffers (rare: long inputs are slow under ASan).
#include "fuzz_util.h"
#include "platform/codepage.h"
#include "platform/error.h"
#include "text/text.h"

#include <string>

using nxfuzz::check;

namespace {

const unsigned int kPages[4] = {platform::kCodePageUtf8, platform::kCodePageAnsi, 1252, 936};

// Runs a conversion as callers do: the size query, one unit too few (must fail with 122), then
// the fill of exactly the size reported. *ok: whether the query gave a size.
template <typename Out, typename Convert>
Out run(Convert convert, bool* ok) {
    const int n = convert(static_cast<typename Out::value_type*>(nullptr), 0);
    if (ok)
        *ok = n > 0;
    if (n <= 0)
        return Out();
    Out out(static_cast<std::size_t>(n), typename Out::value_type());
    if (n > 1)
        check(convert(&out[0], n - 1) == 0 &&
                  platform::lastError().code == platform::kErrorInsufficientBuffer,
              "converting into one unit too few fails with 122");
    check(convert(&out[0], n) == n, "conversion fills exactly the size it reported");
    return out;
}

std::u16string decode(unsigned int cp, unsigned int flags, const std::string& in,
                      bool* ok = nullptr) {
    return run<std::u16string>([&](char16_t* out, int n) {
        return platform::multiByteToWideChar(cp, flags, in.data(), static_cast<int>(in.size()),
                                             out, n);
    }, ok);
}

std::string encode(unsigned int cp, unsigned int flags, const std::u16string& in,
                   bool* ok = nullptr, bool* usedDefault = nullptr) {
    return run<std::string>([&](char* out, int n) {
        return platform::wideCharToMultiByte(cp, flags, in.data(), static_cast<int>(in.size()),
                                             out, n, nullptr, usedDefault);
    }, ok);
}

void fuzzDecode(unsigned int cp, const std::string& in) {
    const unsigned strictFlag = platform::kMbErrInvalidChars;
    bool ok = false, strictOk = false;
    const std::u16string loose = decode(cp, 0, in, &ok);
    const std::u16string strict = decode(cp, strictFlag, in, &strictOk);
    const int strictError = platform::lastError().code;
    check(!strictOk || strict == loose, "strict and replacing decoding agree on valid input");
    if (cp != platform::kCodePageUtf8 && cp != platform::kCodePageAnsi)
        return;
    check(ok, "replacing UTF-8 decoding never fails");
    check(nxfuzz::repairSurrogates(loose) == loose, "decoded UTF-8 holds no lone surrogate");

    const int len = static_cast<int>(in.size());
    const int prefix = platform::multiByteValidPrefix(cp, in.data(), len);
    check(prefix >= 0 && prefix <= len, "valid prefix lies inside the input");
    check(strictOk == (prefix == len), "strict decoding fails exactly when the prefix is short");
    check(strictOk || strictError == platform::kErrorNoUnicodeTranslation,
          "strict decoding reports 1113");
    bool headOk = true, restOk = false;
    const std::u16string head =
        prefix ? decode(cp, strictFlag, in.substr(0, prefix), &headOk) : u"";
    check(headOk, "the valid prefix decodes strictly");
    if (prefix < len) {
        decode(cp, strictFlag, in.substr(prefix), &restOk);
        check(!restOk, "the text after the valid prefix starts with an invalid sequence");
    }

    // Re-encoded text is the input when that was valid, and decodes to the same units anyway.
    const std::string again = encode(cp, 0, loose, &ok);
    check(ok, "decoded text encodes");
    check(prefix < len || again == in, "valid UTF-8 survives a round trip");
    check(decode(cp, 0, again) == loose, "re-encoded text decodes to the same units");

    // The codec keeps the longest valid prefix.
    const NxTextCodec codec(cp == platform::kCodePageUtf8 ? NxTextCodec::Utf8 : NxTextCodec::Ansi);
    const NxString s = codec.toUnicode(in.data(), len);
    check(!s.isNull() && nxfuzz::unitsOf(s) == head, "toUnicode gives the decoded valid prefix");
    // With -1 the text runs through its first zero byte, which must then decode strictly.
    const std::string z(in.c_str());
    const NxString t = codec.toUnicode(in.c_str(), -1);
    bool zOk = true;
    const std::u16string zUnits = z.empty() ? u"" : decode(cp, strictFlag, z, &zOk);
    if (zOk)
        check(nxfuzz::unitsOf(t) == zUnits + u'\0', "toUnicode(-1) includes the terminating zero");
    else
        check(t.size() == 0 && !t.isNull(), "toUnicode(-1) of invalid text is empty");
}

void fuzzEncode(unsigned int cp, const std::u16string& in) {
    if (in.empty())
        return;
    bool ok = false, usedDefault = true;
    // The UTF-8 page takes no default character; the others report whether they used one.
    const bool utf8Page = cp == platform::kCodePageUtf8;
    const std::string bytes = encode(cp, 0, in, &ok, utf8Page ? nullptr : &usedDefault);
    check(ok, "encoding never fails");
    const std::u16string back = decode(cp, 0, bytes);
    const bool valid = nxfuzz::repairSurrogates(in) == in;
    if (utf8Page) {
        check(back == nxfuzz::repairSurrogates(in),
              "UTF-8 round trip replaces only lone surrogates");
        const std::string strict = encode(cp, platform::kWcErrInvalidChars, in, &ok);
        check(ok == valid, "strict encoding fails exactly on lone surrogates");
        check(!ok || strict == bytes, "strict and replacing encoding agree on valid input");
    } else if (cp == platform::kCodePageAnsi) {
        // The ANSI page (UTF-8 here) puts its default character '?' for a lone surrogate.
        check(back == nxfuzz::repairSurrogates(in, u'?'),
              "ANSI round trip replaces only lone surrogates");
        check(usedDefault == !valid, "the ANSI page reports its default character");
    } else {
        // A best-fit look-alike (U+FF0C => ',') is no default character yet does not decode
        // back; without best fit, text encoded without default characters does.
        bool exactDefault = true;
        const std::string exact = encode(cp, platform::kWcNoBestFitChars, in, &ok, &exactDefault);
        check(ok, "encoding without best fit never fails");
        check(exactDefault || !valid || decode(cp, 0, exact) == in,
              "text encoded without best fit or default characters decodes back");
        check(!usedDefault || exactDefault, "a default character with best fit is one without");
        return;
    }

    const NxTextCodec codec(utf8Page ? NxTextCodec::Utf8 : NxTextCodec::Ansi);
    check(nxfuzz::bytesOf(codec.fromUnicode(in.data(), static_cast<int>(in.size()))) == bytes,
          "fromUnicode gives the platform's bytes");
    const std::u16string z(in.c_str());
    check(nxfuzz::bytesOf(codec.fromUnicode(in.c_str(), -1)) ==
              (z.empty() ? std::string() : encode(cp, 0, z)) + '\0',
          "fromUnicode(-1) includes the terminating zero");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    const unsigned mode = data[0];
    const unsigned int cp = kPages[(mode >> 2) & 3];
    const std::string unit(reinterpret_cast<const char*>(data + 1), size - 1);
    std::string payload = unit;
    while ((mode & 0x32) == 0x32 && payload.size() <= 8400)
        payload += unit;
    if (mode & 1)
        fuzzDecode(cp, payload);
    else
        fuzzEncode(cp, nxfuzz::unitsOf(reinterpret_cast<const std::uint8_t*>(payload.data()),
                                       payload.size()));
    return 0;
}
