// The platform's code-page conversion: UTF-8 decoding and encoding with the Win32 results
// (replacement of ill-formed input, strict mode, size queries, buffer errors) and other code
// pages through the system converter.
#include "platform/codepage.h"
#include "platform/error.h"

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

using namespace platform;

namespace {

// The POSIX backend applies the documented Win32 rules itself; the win32 backend hands each
// call to the system, and Wine (where the suite runs for Windows) is laxer about flags and
// default characters and counts replacement characters differently. Checks of those details
// run against the library's own converter only.
#if defined(_WIN32)
constexpr bool kOwnConverter = false;
#else
constexpr bool kOwnConverter = true;
#endif

// Decodes with a buffer of exactly the queried size; empty result and error on failure.
std::u16string decode(const std::string& in, unsigned flags = 0, unsigned cp = kCodePageUtf8) {
    int n = multiByteToWideChar(cp, flags, in.data(), static_cast<int>(in.size()), nullptr, 0);
    if (n == 0)
        return u"<error " + std::u16string(1, static_cast<char16_t>(u'0' + lastError().code % 10)) +
               u">";
    std::u16string out(static_cast<std::size_t>(n), u'\0');
    int written = multiByteToWideChar(cp, flags, in.data(), static_cast<int>(in.size()), &out[0], n);
    EXPECT_EQ(written, n);
    return out;
}

std::string encode(const std::u16string& in, unsigned flags = 0, unsigned cp = kCodePageUtf8) {
    int n = wideCharToMultiByte(cp, flags, in.data(), static_cast<int>(in.size()), nullptr, 0,
                                nullptr, nullptr);
    if (n == 0)
        return "<error>";
    std::string out(static_cast<std::size_t>(n), '\0');
    int written = wideCharToMultiByte(cp, flags, in.data(), static_cast<int>(in.size()), &out[0],
                                      n, nullptr, nullptr);
    EXPECT_EQ(written, n);
    return out;
}

struct DecodeCase {
    const char* in;
    std::u16string lenient;   // without MB_ERR_INVALID_CHARS
    bool valid;               // strict mode accepts it
};

TEST(CodePage, DecodesUtf8AndReplacesEachIllFormedSubpart) {
    const DecodeCase cases[] = {
        {"a", u"a", true},
        {"\xC3\xA9", u"\u00E9", true},
        {"\xE2\x82\xAC", u"\u20AC", true},
        {"\xF0\x9F\x98\x80", u"\U0001F600", true},
        {"\xED\x9F\xBF", u"\uD7FF", true},
        {"\xEE\x80\x80", u"\uE000", true},
        {"\xEF\xBF\xBF", u"\uFFFF", true},
        {"\xF4\x8F\xBF\xBF", u"\U0010FFFF", true},
        {"\x80", u"\uFFFD", false},
        {"\xBF\x80", u"\uFFFD\uFFFD", false},
        {"\xC0\x80", u"\uFFFD\uFFFD", false},
        {"\xC1\xBF", u"\uFFFD\uFFFD", false},
        {"\xC2", u"\uFFFD", false},
        {"\xC2" "A", u"\uFFFD" "A", false},
        {"\xE0\x80\x80", u"\uFFFD\uFFFD\uFFFD", false},
        {"\xE0\xA0", u"\uFFFD", false},
        {"\xE2\x82" "A", u"\uFFFD" "A", false},
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD", false},
        {"\xED\xBF\xBF", u"\uFFFD\uFFFD\uFFFD", false},
        {"\xF0\x8F\xBF\xBF", u"\uFFFD\uFFFD\uFFFD\uFFFD", false},
        {"\xF0\x9F\x98", u"\uFFFD", false},
        {"\xF0\x9F\x98" "A", u"\uFFFD" "A", false},
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD", false},
        {"\xF5\x80\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD", false},
        {"\xFE\xFF", u"\uFFFD\uFFFD", false},
        {"ab\xFF" "c", u"ab\uFFFD" "c", false},
        {"\xE4\xB8\xAD\xE6\x96\x87", u"\u4E2D\u6587", true},
    };
    for (const DecodeCase& c : cases) {
        SCOPED_TRACE(c.in);
        if (kOwnConverter || c.valid)
            EXPECT_EQ(decode(c.in), c.lenient);
        else
            EXPECT_NE(decode(c.in).find(u'\uFFFD'), std::u16string::npos);
        int n = multiByteToWideChar(kCodePageUtf8, kMbErrInvalidChars, c.in,
                                    static_cast<int>(std::strlen(c.in)), nullptr, 0);
        if (c.valid) {
            EXPECT_EQ(static_cast<std::size_t>(n), c.lenient.size());
        } else {
            EXPECT_EQ(n, 0);
            EXPECT_EQ(lastError().code, kErrorNoUnicodeTranslation);
        }
    }
}

// A mixed text long enough for the vectorised runs, with every sequence length.
const std::string kMixed =
    "plain ASCII long enough for blocks: 0123456789abcdef "
    "caf\xC3\xA9 \xE4\xB8\xAD\xE6\x96\x87\xE6\xB5\x8B\xE8\xAF\x95 \xF0\x9F\x98\x80 end";

TEST(CodePage, AnInvalidByteAtEveryPositionIsCaughtOrReplaced) {
    std::u16string whole = decode(kMixed, kMbErrInvalidChars);
    for (std::size_t pos = 0; pos <= kMixed.size(); ++pos) {
        std::string bad = kMixed;
        bad.insert(pos, 1, '\xFF');
        int n = multiByteToWideChar(kCodePageUtf8, kMbErrInvalidChars, bad.data(),
                                    static_cast<int>(bad.size()), nullptr, 0);
        EXPECT_EQ(n, 0) << "at " << pos;
        EXPECT_EQ(lastError().code, kErrorNoUnicodeTranslation);
        // At a character boundary the rest decodes unchanged around one U+FFFD.
        bool boundary = pos == kMixed.size() || (static_cast<unsigned char>(kMixed[pos]) & 0xC0) != 0x80;
        if (boundary) {
            std::u16string expected = decode(kMixed.substr(0, pos)) + u"\uFFFD" +
                                      decode(kMixed.substr(pos));
            if (pos == 0)
                expected = u"\uFFFD" + whole;
            if (pos == kMixed.size())
                expected = whole + u"\uFFFD";
            EXPECT_EQ(decode(bad), expected) << "at " << pos;
        }
    }
}

TEST(CodePage, ATruncatedSequenceFailsStrictDecoding) {
    for (std::size_t len = 1; len <= kMixed.size(); ++len) {
        bool boundary = len == kMixed.size() || (static_cast<unsigned char>(kMixed[len]) & 0xC0) != 0x80;
        int n = multiByteToWideChar(kCodePageUtf8, kMbErrInvalidChars, kMixed.data(),
                                    static_cast<int>(len), nullptr, 0);
        EXPECT_EQ(n != 0, boundary) << "length " << len;
    }
}

TEST(CodePage, SizeQueriesAndBufferErrorsBehaveAsOnWindows) {
    int n = multiByteToWideChar(kCodePageUtf8, 0, "abc", -1, nullptr, 0);
    EXPECT_EQ(n, 4);
    char16_t buf[8] = {u'#', u'#', u'#', u'#', u'#'};
    EXPECT_EQ(multiByteToWideChar(kCodePageUtf8, 0, "abc", -1, buf, 4), 4);
    EXPECT_EQ(std::u16string(buf, 4), std::u16string(u"abc\0", 4));
    EXPECT_EQ(multiByteToWideChar(kCodePageUtf8, 0, "abc", -1, buf, 3), 0);
    EXPECT_EQ(lastError().code, kErrorInsufficientBuffer);
    EXPECT_EQ(multiByteToWideChar(kCodePageUtf8, 0, "abc", 0, buf, 8), 0);
    EXPECT_EQ(lastError().code, kErrorInvalidParameter);
    EXPECT_EQ(multiByteToWideChar(kCodePageUtf8, 0, nullptr, 3, buf, 8), 0);
    EXPECT_EQ(lastError().code, kErrorInvalidParameter);
    EXPECT_EQ(multiByteToWideChar(kCodePageAnsi, 0x01, "abc", 3, buf, 8), 3);
    if (kOwnConverter) {
        EXPECT_EQ(multiByteToWideChar(kCodePageUtf8, 0, "abc", -2, buf, 8), 0);
        EXPECT_EQ(lastError().code, kErrorInvalidParameter);
        EXPECT_EQ(multiByteToWideChar(kCodePageUtf8, 0x01, "abc", 3, buf, 8), 0);
        EXPECT_EQ(lastError().code, kErrorInvalidFlags);
    }

    EXPECT_EQ(wideCharToMultiByte(kCodePageUtf8, 0, u"\u20AC", -1, nullptr, 0, nullptr, nullptr), 4);
    char bytes[8];
    EXPECT_EQ(wideCharToMultiByte(kCodePageUtf8, 0, u"\u20AC", 1, bytes, 2, nullptr, nullptr), 0);
    EXPECT_EQ(lastError().code, kErrorInsufficientBuffer);
    EXPECT_EQ(wideCharToMultiByte(kCodePageUtf8, 0, u"\u20AC", 1, bytes, 3, nullptr, nullptr), 3);
    bool used = true;
    if (kOwnConverter) {
        EXPECT_EQ(wideCharToMultiByte(kCodePageUtf8, 0, u"a", 1, bytes, 8, "?", nullptr), 0);
        EXPECT_EQ(lastError().code, kErrorInvalidParameter);
        EXPECT_EQ(wideCharToMultiByte(kCodePageUtf8, 0, u"a", 1, bytes, 8, nullptr, &used), 0);
        EXPECT_EQ(lastError().code, kErrorInvalidParameter);
    }

    // A long input into a small buffer: counted first, refused without writing past the end.
    std::string longText(10000, 'x');
    std::u16string wide(100, u'#');
    EXPECT_EQ(multiByteToWideChar(kCodePageUtf8, 0, longText.data(), 10000, &wide[0], 100), 0);
    EXPECT_EQ(lastError().code, kErrorInsufficientBuffer);
}

TEST(CodePage, EncodesUtf8AndHandlesLoneSurrogates) {
    struct Case {
        std::u16string in;
        std::string lenient;
        bool valid;
    };
    const Case cases[] = {
        {u"a\u00E9\u20AC\U0001F600", "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", true},
        {u"\u07FF\u0800\uFFFF", "\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF", true},
        {std::u16string(1, char16_t(0xD800)), "\xEF\xBF\xBD", false},
        {std::u16string(1, char16_t(0xDC00)) + u"x", "\xEF\xBF\xBDx", false},
        {u"a" + std::u16string(1, char16_t(0xDBFF)) + u"b", "a\xEF\xBF\xBD" "b", false},
        {std::u16string{char16_t(0xDC00), char16_t(0xD800)}, "\xEF\xBF\xBD\xEF\xBF\xBD", false},
        {std::u16string{char16_t(0xD800), char16_t(0xD800), char16_t(0xDC00)},
         "\xEF\xBF\xBD\xF0\x90\x80\x80", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(encode(c.in), c.lenient);
        EXPECT_EQ(encode(c.in, kWcErrInvalidChars), c.valid ? c.lenient : "<error>");
        if (!c.valid) {
            EXPECT_EQ(lastError().code, kErrorNoUnicodeTranslation);
        }
    }
    // The ANSI page (UTF-8 here) puts its default character in a lone surrogate's place.
    char out[8];
    bool used = false;
    const char16_t lone[] = {u'a', 0xD800, 0};
    EXPECT_EQ(wideCharToMultiByte(kCodePageAnsi, 0, lone, 2, out, 8, nullptr, &used), 2);
    EXPECT_EQ(std::string(out, 2), "a?");
    EXPECT_TRUE(used);
}

TEST(CodePage, RandomTextRoundTripsThroughUtf8) {
    std::mt19937 rng(7);
    for (int round = 0; round < 200; ++round) {
        std::u16string text;
        int len = static_cast<int>(rng() % 200);
        for (int i = 0; i < len; ++i) {
            char32_t cp;
            switch (rng() % 4) {
            case 0: cp = rng() % 0x80; break;
            case 1: cp = 0x80 + rng() % 0x780; break;
            case 2: cp = 0x800 + rng() % 0xF800; break;
            default: cp = 0x10000 + rng() % 0x100000; break;
            }
            if (cp >= 0xD800 && cp <= 0xDFFF)
                cp = 'S';
            if (cp >= 0x10000) {
                text.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
                text.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
            } else {
                text.push_back(static_cast<char16_t>(cp));
            }
        }
        if (text.empty())
            continue;
        std::string utf8 = encode(text, kWcErrInvalidChars);
        ASSERT_EQ(decode(utf8, kMbErrInvalidChars), text);
    }
}

// Reference converters for the oracle below: one code point at a time, maximal subparts.
std::u16string referenceDecode(const std::string& in) {
    std::u16string out;
    const unsigned char* s = reinterpret_cast<const unsigned char*>(in.data());
    std::size_t n = in.size();
    for (std::size_t i = 0; i < n;) {
        unsigned b = s[i];
        std::size_t need = b < 0x80 ? 0 : (b >= 0xC2 && b <= 0xDF) ? 1 : (b >= 0xE0 && b <= 0xEF) ? 2
                         : (b >= 0xF0 && b <= 0xF4) ? 3 : 99;
        if (need == 0) {
            out.push_back(static_cast<char16_t>(b));
            ++i;
            continue;
        }
        unsigned lo = b == 0xE0 ? 0xA0 : b == 0xF0 ? 0x90 : 0x80;
        unsigned hi = b == 0xED ? 0x9F : b == 0xF4 ? 0x8F : 0xBF;
        std::size_t k = 1;
        char32_t cp = need == 1 ? (b & 0x1F) : need == 2 ? (b & 0x0F) : (b & 0x07);
        bool ok = need != 99;
        while (ok && k <= need) {
            if (i + k >= n) { ok = false; break; }
            unsigned c = s[i + k];
            if (k == 1 ? (c < lo || c > hi) : (c & 0xC0) != 0x80) { ok = false; break; }
            cp = (cp << 6) | (c & 0x3F);
            ++k;
        }
        if (!ok) {
            out.push_back(0xFFFD);
            i += need == 99 ? 1 : k;
            continue;
        }
        if (cp >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += k;
    }
    return out;
}

std::string referenceEncode(const std::u16string& in) {
    std::string out;
    for (std::size_t i = 0; i < in.size(); ++i) {
        char32_t cp = in[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < in.size() && in[i + 1] >= 0xDC00 &&
            in[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (in[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

// Long runs of three-byte characters take the block-at-a-time paths; a damaged byte at every
// position of such a run, and surrogates or units outside the class inside UTF-16 runs, must
// give exactly what a one-at-a-time converter gives.
TEST(CodePage, ThreeByteRunsAgreeWithAOneAtATimeConverter) {
    std::mt19937 rng(5);
    const unsigned char damage[] = {0xFF, 0x41, 0x80, 0xE0, 0xED, 0xC2, 0xA0, 0xF0};
    for (int round = 0; round < 40; ++round) {
        std::u16string text;
        for (int i = 0; i < 70; ++i) {
            int kind = static_cast<int>(rng() % 20);
            if (kind == 0)
                text.push_back(u' ');
            else if (kind == 1)
                text.push_back(static_cast<char16_t>(0x400 + rng() % 0x100));
            else
                text.push_back(static_cast<char16_t>(0x4E00 + rng() % 0x5000));
        }
        std::string utf8 = referenceEncode(text);
        ASSERT_EQ(encode(text, kWcErrInvalidChars), utf8);
        ASSERT_EQ(decode(utf8, kMbErrInvalidChars), text);
        for (std::size_t pos = 0; pos < utf8.size(); ++pos) {
            std::string bad = utf8;
            bad[pos] = static_cast<char>(damage[(pos + static_cast<std::size_t>(round)) % 8]);
            std::u16string expected = referenceDecode(bad);
            bool valid = expected.find(u'\uFFFD') == std::u16string::npos;
            if (!kOwnConverter) {
                // The system's converter: strict decoding agrees, replacements may be counted
                // differently.
                int units = multiByteToWideChar(kCodePageUtf8, kMbErrInvalidChars, bad.data(),
                                                static_cast<int>(bad.size()), nullptr, 0);
                ASSERT_EQ(units != 0, valid) << "round " << round << " at " << pos;
                continue;
            }
            ASSERT_EQ(decode(bad), expected) << "round " << round << " at " << pos;
            int n = multiByteToWideChar(kCodePageUtf8, kMbErrInvalidChars, bad.data(),
                                        static_cast<int>(bad.size()), nullptr, 0);
            ASSERT_EQ(n != 0, valid) << "round " << round << " at " << pos;
            if (!valid) {
                // The valid prefix ends where the first replacement character begins.
                int prefix = multiByteValidPrefix(kCodePageUtf8, bad.data(), static_cast<int>(bad.size()));
                std::u16string head = referenceDecode(bad.substr(0, static_cast<std::size_t>(prefix)));
                ASSERT_EQ(expected.substr(0, head.size()), head);
                ASSERT_EQ(expected[head.size()], u'\uFFFD') << "round " << round << " at " << pos;
            }
        }
        for (std::size_t pos = 0; pos < text.size(); ++pos) {
            std::u16string bad = text;
            bad[pos] = static_cast<char16_t>(pos % 3 == 0 ? 0xD800 : pos % 3 == 1 ? 0xDFFF : 0x7FF);
            ASSERT_EQ(encode(bad), referenceEncode(bad)) << "round " << round << " at " << pos;
        }
    }
}

TEST(CodePage, OtherCodePagesGoThroughTheSystemConverter) {
    EXPECT_EQ(decode("\x80" "A\xE9", 0, 1252), u"\u20AC" "A\u00E9");
    EXPECT_EQ(encode(u"\u20AC" "A\u00E9", 0, 1252), "\x80" "A\xE9");
    EXPECT_EQ(decode("\xD6\xD0\xCE\xC4", 0, 936), u"\u4E2D\u6587");
    EXPECT_EQ(encode(u"\u4E2D\u6587", 0, 936), "\xD6\xD0\xCE\xC4");

    // Unrepresentable characters become the page's default character or the caller's.
    char out[16];
    bool used = false;
    EXPECT_EQ(wideCharToMultiByte(1252, 0, u"a\u4E2Db", 3, out, 16, nullptr, &used), 3);
    EXPECT_EQ(std::string(out, 3), "a?b");
    EXPECT_TRUE(used);
    // A surrogate pair the page lacks: one default character per unit.
    EXPECT_EQ(wideCharToMultiByte(1252, 0, u"a\U0001F600b", 4, out, 16, "*", &used), 4);
    EXPECT_EQ(std::string(out, 4), "a**b");
    EXPECT_EQ(wideCharToMultiByte(1252, 0, u"ab", 2, out, 16, nullptr, &used), 2);
    EXPECT_FALSE(used);
    EXPECT_EQ(wideCharToMultiByte(1252, 0, u"a\u4E2Db", 3, out, 2, nullptr, nullptr), 0);
    EXPECT_EQ(lastError().code, kErrorInsufficientBuffer);
    if (kOwnConverter) {
        EXPECT_EQ(wideCharToMultiByte(1252, kWcErrInvalidChars, u"ab", 2, out, 16, nullptr, nullptr), 0);
        EXPECT_EQ(lastError().code, kErrorInvalidFlags);
    }

    // A truncated double-byte character: strict mode fails, lenient mode replaces it.
    EXPECT_EQ(multiByteToWideChar(936, kMbErrInvalidChars, "a\xD6", 2, nullptr, 0), 0);
    EXPECT_EQ(lastError().code, kErrorNoUnicodeTranslation);
    EXPECT_EQ(decode("a\xD6", 0, 936), u"a?");

    // A page the system does not know.
    EXPECT_EQ(multiByteToWideChar(12345, 0, "a", 1, nullptr, 0), 0);
    EXPECT_EQ(lastError().code, kErrorInvalidParameter);
    EXPECT_EQ(wideCharToMultiByte(12345, 0, u"a", 1, nullptr, 0, nullptr, nullptr), 0);
    EXPECT_EQ(lastError().code, kErrorInvalidParameter);

    // Stateful pages are flushed at the end (UTF-7 closes its base64 run).
    EXPECT_EQ(decode(encode(u"a\u20ACb\u00E9", 0, 65000), 0, 65000), u"a\u20ACb\u00E9");
    EXPECT_EQ(multiByteToWideChar(65000, kMbErrInvalidChars, "a", 1, nullptr, 0), 0);
    EXPECT_EQ(lastError().code, kErrorInvalidFlags);
}

}  // namespace
