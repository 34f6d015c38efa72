// The platform's code-page conversion: UTF-8 with the Win32 results (replacement of ill-formed
// input, strict mode, size queries, buffer errors), checked against a one-at-a-time reference
// converter at every vector level, the UTF-8 converter's policies, and other code pages
// through the system converter.
#include "platform/codepage.h"
#include "platform/error.h"
#include "platform/utf8.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <tuple>

using namespace platform;

namespace {

// The win32 backend hands each call to the system, and Wine is laxer about flags and default
// characters and counts replacements otherwise: those details are checked on ours only.
#if defined(_WIN32)
constexpr bool kOwnConverter = false;
#else
constexpr bool kOwnConverter = true;
#endif

// A call's result, or "<error N>" when it failed.
std::string outcome(int result) {
    return result ? std::to_string(result) : "<error " + std::to_string(lastError().code) + ">";
}

// Converts with a buffer of exactly the queried size; "<error N>" on failure.
std::u16string decode(const std::string& in, unsigned flags = 0, unsigned cp = kCodePageUtf8) {
    const int len = static_cast<int>(in.size()), n = multiByteToWideChar(cp, flags, in.data(), len, nullptr, 0);
    const std::string e = outcome(n);
    std::u16string out = n ? std::u16string(static_cast<std::size_t>(n), 0) : std::u16string(e.begin(), e.end());
    EXPECT_EQ(n ? multiByteToWideChar(cp, flags, in.data(), len, &out[0], n) : 0, n);
    return out;
}
std::string encode(const std::u16string& in, unsigned flags = 0, unsigned cp = kCodePageUtf8) {
    const int len = static_cast<int>(in.size());
    const int n = wideCharToMultiByte(cp, flags, in.data(), len, nullptr, 0, nullptr, nullptr);
    std::string out = n ? std::string(static_cast<std::size_t>(n), 0) : outcome(n);
    EXPECT_EQ(n ? wideCharToMultiByte(cp, flags, in.data(), len, &out[0], n, nullptr, nullptr) : 0, n);
    return out;
}

void appendUtf16(std::u16string& out, char32_t cp) {
    if (cp >= 0x10000) {
        out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
        cp = 0xDC00 + (cp & 0x3FF);
    }
    out += static_cast<char16_t>(cp);
}

// One code point at a time, each maximal ill-formed subpart becoming one U+FFFD.
std::u16string referenceDecode(const std::string& in, bool* valid) {
    std::u16string out;
    *valid = true;
    for (std::size_t i = 0; i < in.size();) {
        const unsigned b = static_cast<unsigned char>(in[i]);
        const std::size_t need = b < 0x80 ? 0 : b < 0xC2 ? 9 : b < 0xE0 ? 1 : b < 0xF0 ? 2 : b < 0xF5 ? 3 : 9;
        const unsigned lo = b == 0xE0 ? 0xA0 : b == 0xF0 ? 0x90 : 0x80;
        const unsigned hi = b == 0xED ? 0x9F : b == 0xF4 ? 0x8F : 0xBF;
        char32_t cp = b & (0x7Fu >> need);
        std::size_t k = 1;
        for (; need != 9 && k <= need && i + k < in.size(); ++k) {
            const unsigned c = static_cast<unsigned char>(in[i + k]);
            if (k == 1 ? c < lo || c > hi : (c & 0xC0) != 0x80)
                break;
            cp = cp << 6 | (c & 0x3F);
        }
        const bool ok = need != 9 && k > need;
        ok ? appendUtf16(out, cp) : void(out += u'\uFFFD');
        *valid = *valid && ok;
        i += need == 9 ? 1 : k;
    }
    return out;
}

// The first and last sequence of each length and the bounds just outside; the damaged-text
// test below covers the rest against the reference.
TEST(CodePage, DecodesUtf8AndReplacesEachIllFormedSubpart) {
    struct Case { const char* in; std::u16string lenient; bool valid; };   // valid: strict mode accepts it
    const std::u16string r1 = u"\uFFFD", r2 = r1 + r1, r3 = r2 + r1, r4 = r2 + r2;
    const Case cases[] = {
        {"a", u"a", true}, {"\xC3\xA9", u"\u00E9", true}, {"\xE2\x82\xAC", u"\u20AC", true},
        {"\xF0\x9F\x98\x80", u"\U0001F600", true}, {"\xED\x9F\xBF", u"\uD7FF", true},
        {"\xEE\x80\x80", u"\uE000", true}, {"\xEF\xBF\xBF", u"\uFFFF", true},
        {"\xF4\x8F\xBF\xBF", u"\U0010FFFF", true}, {"\x80", r1, false}, {"\xC1\xBF", r2, false},
        {"\xC2", r1, false}, {"\xC2" "A", r1 + u"A", false}, {"\xE0\x80\x80", r3, false}, {"\xE0\xA0", r1, false},
        {"\xED\xA0\x80", r3, false}, {"\xF0\x8F\xBF\xBF", r4, false}, {"\xF0\x9F\x98", r1, false},
        {"\xF4\x90\x80\x80", r4, false}, {"\xF5\x80\x80\x80", r4, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in);
        if (kOwnConverter || c.valid)
            EXPECT_EQ(decode(c.in), c.lenient);
        else
            EXPECT_NE(decode(c.in).find(u'\uFFFD'), std::u16string::npos);
        EXPECT_EQ(decode(c.in, kMbErrInvalidChars), c.valid ? c.lenient : u"<error 1113>");
    }
}

// Strict decoding fails exactly when the reference replaces something, and the valid prefix
// ends at the first replacement; the own converter also replaces exactly as the reference.
void expectDecodesLikeTheReference(const std::string& bad, const std::string& what) {
    bool valid = true, headValid = false;
    const std::u16string expected = referenceDecode(bad, &valid);
    ASSERT_EQ(decode(bad, kMbErrInvalidChars), valid ? expected : u"<error 1113>") << what;
    if (!kOwnConverter)
        return;
    ASSERT_EQ(decode(bad), expected) << what;
    if (!valid) {
        const int prefix = multiByteValidPrefix(kCodePageUtf8, bad.data(), static_cast<int>(bad.size()));
        const std::u16string head = referenceDecode(bad.substr(0, static_cast<std::size_t>(prefix)), &headValid);
        ASSERT_TRUE(headValid) << what;
        ASSERT_EQ(expected.substr(0, head.size() + 1), head + u'\uFFFD') << what;
    }
}

// Random text of 70 characters of every UTF-8 length without surrogates or U+FFFD; with
// `threeByteRuns`, mostly three-byte characters, for the block-at-a-time paths.
std::u16string randomText(std::mt19937& rng, bool threeByteRuns) {
    static const char32_t base[] = {0, 0x80, 0x800, 0x10000}, span[] = {0x80, 0x780, 0xF800, 0x100000};
    std::u16string text;
    for (int i = 0; i < 70; ++i) {
        const unsigned kind = threeByteRuns && rng() % 10 != 0 ? 2 : rng() % 4;
        const char32_t cp = base[kind] + rng() % span[kind];
        appendUtf16(text, (cp >= 0xD800 && cp <= 0xDFFF) || cp == 0xFFFD ? U'S' : cp);
    }
    return text;
}

TEST(CodePage, DamagedTextConvertsLikeAOneAtATimeConverter) {
    struct AutoLevel { ~AutoLevel() { utf::forceSimdLevel(-1); } } autoLevel;   // on any exit
    for (int level = 0; level <= 2; ++level) {
        utf::forceSimdLevel(level);
        SCOPED_TRACE("vector level " + std::to_string(utf::simdLevel()));
        // A text long enough for the vectorised runs, with every sequence length: a stray byte
        // inserted at, and a cut made at, every position.
        const std::string mixed = "plain ASCII long enough for blocks: 0123456789abcdef "
                                  "caf\xC3\xA9 \xE4\xB8\xAD\xE6\x96\x87\xE6\xB5\x8B\xE8\xAF\x95 \xF0\x9F\x98\x80 end";
        for (std::size_t pos = 0; pos <= mixed.size(); ++pos) {
            const std::string bad = std::string(mixed).insert(pos, 1, '\xFF'), at = std::to_string(pos);
            ASSERT_NO_FATAL_FAILURE(expectDecodesLikeTheReference(bad, "0xFF at " + at));
            if (pos > 0) {
                ASSERT_NO_FATAL_FAILURE(expectDecodesLikeTheReference(mixed.substr(0, pos), "cut at " + at));
            }
        }
        // Random text round-trips strictly; then every byte is damaged in turn, and every unit
        // replaced by a surrogate or a two-byte character: lenient encoding equals strict
        // encoding of the text with each lone surrogate replaced by U+FFFD.
        std::mt19937 rng(5);
        const unsigned char damage[] = {0xFF, 0x41, 0x80, 0xE0, 0xED, 0xC2, 0xA0, 0xF0};
        auto isHigh = [](char16_t u) { return u >= 0xD800 && u <= 0xDBFF; };
        auto isLow = [](char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; };
        for (int round = 0; round < 120; ++round) {
            const std::string where = "round " + std::to_string(round);
            const std::u16string text = randomText(rng, round % 2 == 0);
            const std::string utf8 = encode(text, kWcErrInvalidChars);
            bool valid = false;
            ASSERT_EQ(referenceDecode(utf8, &valid), text) << where;
            ASSERT_TRUE(valid) << where;
            ASSERT_EQ(decode(utf8, kMbErrInvalidChars), text) << where;
            for (std::size_t pos = 0; pos < utf8.size(); ++pos) {
                std::string bad = utf8;
                bad[pos] = static_cast<char>(damage[(pos + static_cast<std::size_t>(round)) % 8]);
                ASSERT_NO_FATAL_FAILURE(expectDecodesLikeTheReference(bad, where + " byte " + std::to_string(pos)));
            }
            for (std::size_t pos = 0; pos < text.size(); ++pos) {
                std::u16string bad = text, fixed;
                bad[pos] = static_cast<char16_t>(pos % 3 == 0 ? 0xD800 : pos % 3 == 1 ? 0xDFFF : 0x7FF);
                for (std::size_t i = 0; i < bad.size(); ++i) {
                    const bool paired = isHigh(bad[i]) ? i + 1 < bad.size() && isLow(bad[i + 1])
                                                       : !isLow(bad[i]) || (i > 0 && isHigh(bad[i - 1]));
                    fixed += paired ? bad[i] : u'\uFFFD';
                }
                ASSERT_EQ(encode(bad), encode(fixed, kWcErrInvalidChars)) << where << " unit " << pos;
            }
        }
    }
}

TEST(CodePage, SizeQueriesAndBufferErrorsBehaveAsOnWindows) {
    char16_t buf[8] = {u'#', u'#', u'#', u'#', u'#'};
    EXPECT_EQ(multiByteToWideChar(kCodePageUtf8, 0, "abc", -1, buf, 4), 4);
    EXPECT_EQ(std::u16string(buf, 5), std::u16string(u"abc\0#", 5));
    const std::string longText(10000, 'x');
    std::u16string wide(100, u'#');
    char bytes[8];
    bool used = true;
    EXPECT_EQ(outcome(multiByteToWideChar(kCodePageUtf8, 0, "abc", -1, nullptr, 0)), "4");
    EXPECT_EQ(outcome(multiByteToWideChar(kCodePageAnsi, 0x01, "abc", 3, buf, 8)), "3");
    EXPECT_EQ(outcome(multiByteToWideChar(kCodePageUtf8, 0, "abc", -1, buf, 3)), "<error 122>");
    EXPECT_EQ(outcome(multiByteToWideChar(kCodePageUtf8, 0, "abc", 0, buf, 8)), "<error 87>");
    EXPECT_EQ(outcome(multiByteToWideChar(kCodePageUtf8, 0, nullptr, 3, buf, 8)), "<error 87>");
    // A long input into a small buffer is refused without writing past the end (ASan).
    EXPECT_EQ(outcome(multiByteToWideChar(kCodePageUtf8, 0, longText.data(), 10000, &wide[0], 100)), "<error 122>");
    EXPECT_EQ(outcome(wideCharToMultiByte(kCodePageUtf8, 0, u"\u20AC", -1, nullptr, 0, nullptr, nullptr)), "4");
    EXPECT_EQ(outcome(wideCharToMultiByte(kCodePageUtf8, 0, u"\u20AC", 1, bytes, 3, nullptr, nullptr)), "3");
    EXPECT_EQ(outcome(wideCharToMultiByte(kCodePageUtf8, 0, u"\u20AC", 1, bytes, 2, nullptr, nullptr)), "<error 122>");
    if (kOwnConverter) {
        EXPECT_EQ(outcome(multiByteToWideChar(kCodePageUtf8, 0, "abc", -2, buf, 8)), "<error 87>");
        EXPECT_EQ(outcome(multiByteToWideChar(kCodePageUtf8, 0x01, "abc", 3, buf, 8)), "<error 1004>");
        // UTF-8 takes neither a default character nor a usedDefault flag.
        EXPECT_EQ(outcome(wideCharToMultiByte(kCodePageUtf8, 0, u"a", 1, bytes, 8, "?", nullptr)), "<error 87>");
        EXPECT_EQ(outcome(wideCharToMultiByte(kCodePageUtf8, 0, u"a", 1, bytes, 8, nullptr, &used)), "<error 87>");
    }
}

// The sequence-length bounds and each kind of lone surrogate (the damaged-text test covers
// lenient encoding of the rest).
TEST(CodePage, EncodesUtf8AndHandlesLoneSurrogates) {
    struct Case { std::u16string in; std::string lenient; bool valid; };
    const char16_t hi = 0xD800, lo = 0xDC00;
    const Case cases[] = {
        {u"a\u00E9\u20AC\U0001F600", "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", true},
        {u"\u07FF\u0800\uFFFF", "\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF", true}, {{hi}, "\xEF\xBF\xBD", false},
        {{lo, u'x'}, "\xEF\xBF\xBDx", false}, {{lo, hi}, "\xEF\xBF\xBD\xEF\xBF\xBD", false},
        {{hi, hi, lo}, "\xEF\xBF\xBD\xF0\x90\x80\x80", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("case " + std::to_string(&c - cases));
        EXPECT_EQ(encode(c.in), c.lenient);
        EXPECT_EQ(encode(c.in, kWcErrInvalidChars), c.valid ? c.lenient : "<error 1113>");
    }
    // The ANSI page (UTF-8 here) puts its default character in a lone surrogate's place.
    char out[8];
    bool used = false;
    const char16_t lone[] = {u'a', hi, 0};
    EXPECT_EQ(wideCharToMultiByte(kCodePageAnsi, 0, lone, 2, out, 8, nullptr, &used), 2);
    EXPECT_TRUE(std::string(out, 2) == "a?" && used);
}

// Encodes with the page's default character; "+default" follows the bytes when it was used.
std::string encodeNoting(const std::u16string& in, unsigned flags, unsigned cp) {
    char out[64];
    bool used = false;
    bool* usedFlag = cp == kCodePageUtf8 ? nullptr : &used;
    const int n = wideCharToMultiByte(cp, flags, in.data(), static_cast<int>(in.size()), out, 64, nullptr, usedFlag);
    return n ? std::string(out, static_cast<std::size_t>(n)) + (used ? "+default" : "") : outcome(n);
}

// Windows' answers, established with the real functions (the Windows leg runs the same rows on
// them). `posix` is set where the POSIX converter answers otherwise, for a reason docs/text.md
// gives: no mapping data for the Windows behaviour (1252's and 932's best fit, 932's stand-ins
// for bytes it lacks), or the system converter's choice among equivalent encodings (950's box
// drawing).
TEST(CodePage, EachPageConvertsAsOnWindows) {
    const char16_t* same = nullptr;
    struct Decoding { unsigned cp, flags; std::string in; std::u16string windows; const char16_t* posix; };
    const Decoding decodings[] = {
        {65001, 0, "a\xE2\x82", u"a\uFFFD", same}, {65001, kMbErrInvalidChars, "a\xE2\x82", u"<error 1113>", same},
        {65001, 0, "\xF0\x9F\x98\x80", u"\U0001F600", same},
        // 1252: the five bytes without a character round-trip as the C1 controls.
        {1252, kMbErrInvalidChars, "\x80\x81\x8D\x8F\x90\x9D\xFF", u"\u20AC\u0081\u008D\u008F\u0090\u009D\u00FF", same},
        // 936: the user-defined areas (AAA1.., F8A1.., A140..) decode to private-use characters.
        {936, kMbErrInvalidChars, "\xD6\xD0\xCE\xC4\x80", u"\u4E2D\u6587\u20AC", same},
        {936, kMbErrInvalidChars, "\xA1\x40\xA2\xAB\xAA\xA1\xF8\xA1", u"\uE4C6\uE766\uE000\uE234", same},
        {936, 0, "a\xFF" "b\xD6", u"a\uF8F5b?", same}, {936, kMbErrInvalidChars, "\xFF", u"<error 1113>", same},
        // 932: a pair it lacks and a damaged pair become the katakana middle dot.
        {932, kMbErrInvalidChars, "\x82\xA0\xF0\x40", u"\u3042\uE000", same},
        {932, 0, "\x85\x40z\x81", u"\u30FBz\u30FB", same}, {932, kMbErrInvalidChars, "\x85\x40", u"<error 1113>", same},
        {932, 0, "\x80\xA0\xFD", u"\u0080\uF8F0\uF8F1", u"\u30FB\u30FB\u30FB"},
        // 949 and 950: the extension areas.
        {949, kMbErrInvalidChars, "\xB0\xA1z\x80\xC9\xA1\xFE\xA1", u"\uAC00z\u0080\uE000\uE05E", same},
        {950, kMbErrInvalidChars, "\xA4\x40\x81\x40\xA0\xFE\xC6\xA1\xC8\x7E\xFA\x40", u"\u4E00\uEEB8\uEEB7\uF6B1\uF7EA\uE000", same},
        {950, 0, "\xFF", u"\uF8F8", same},
    };
    for (const Decoding& d : decodings) {
        SCOPED_TRACE(std::to_string(d.cp) + " decoding row " + std::to_string(&d - decodings));
        EXPECT_EQ(decode(d.in, d.flags, d.cp), kOwnConverter && d.posix ? std::u16string(d.posix) : d.windows);
    }
    struct Encoding { unsigned cp, flags; std::u16string in; std::string windows; const char* posix; };
    const Encoding encodings[] = {
        {65001, 0, u"\u20AC", "\xE2\x82\xAC", nullptr}, {65001, 0, {u'a', 0xD800}, "a\xEF\xBF\xBD", nullptr},
        {1252, 0, u"\u0081\u008D\u008F\u0090\u009D\u20AC", "\x81\x8D\x8F\x90\x9D\x80", nullptr},
        // Best fit: a look-alike, and the default character is not counted as used.
        {1252, 0, u"\uFF21\uFF5E", "A~", nullptr}, {1252, kWcNoBestFitChars, u"\uFF21", "?+default", nullptr},
        {1252, 0, u"\u0100\u00A2", "A\xA2", "?\xA2+default"}, {1252, 0, u"a\u4E2Db", "a?b+default", nullptr},
        {1252, 0, u"a\U0001F600", "a??+default", nullptr},
        {936, 0, u"\u4E2D\u6587\u20AC\uE4C6\uE000", "\xD6\xD0\xCE\xC4\x80\xA1\x40\xAA\xA1", nullptr},
        {936, 0, u"\u00A2", "\xA1\xE9", nullptr}, {936, kWcNoBestFitChars, u"\u00A2", "?+default", nullptr},
        {932, 0, u"\u3042\uE000\uFF21", "\x82\xA0\xF0\x40\x82\x60", nullptr},
        {932, 0, u"\u00AB", "\x81\xE1", "?+default"},
        {949, 0, u"\uAC00\uE000\u00A2\u00A6", "\xB0\xA1\xC9\xA1\xA1\xCB|", nullptr},
        {950, 0, u"\u4E00\uEEB8\u00A2\uFF21", "\xA4\x40\x81\x40\xA2\x46\xA2\xCF", nullptr},
        {950, 0, u"\u2550", "\xF9\xF9", "\xA2\xA4"},
    };
    for (const Encoding& e : encodings) {
        SCOPED_TRACE(std::to_string(e.cp) + " encoding row " + std::to_string(&e - encodings));
        EXPECT_EQ(encodeNoting(e.in, e.flags, e.cp), kOwnConverter && e.posix ? std::string(e.posix) : e.windows);
    }
}

TEST(CodePage, OtherCodePagesGoThroughTheSystemConverter) {
    // The caller's default character, and a result that does not fit.
    char out[16];
    bool used = false;
    EXPECT_EQ(wideCharToMultiByte(1252, 0, u"a\U0001F600b", 4, out, 16, "*", &used), 4);
    EXPECT_TRUE(std::string(out, 4) == "a**b" && used);
    EXPECT_EQ(outcome(wideCharToMultiByte(1252, 0, u"a\u4E2Db", 3, out, 2, nullptr, nullptr)), "<error 122>");
    EXPECT_EQ(outcome(wideCharToMultiByte(950, 0, u"a\uEEB8", 2, out, 2, nullptr, nullptr)), "<error 122>");
    EXPECT_EQ(outcome(multiByteToWideChar(936, 0, "a\xA1\x40", 3, reinterpret_cast<char16_t*>(out), 1)), "<error 122>");
    if (kOwnConverter) {
        EXPECT_EQ(encode(u"ab", kWcErrInvalidChars, 1252), "<error 1004>");
        // The valid prefix runs through the added mappings and stops at a stand-in.
        EXPECT_EQ(multiByteValidPrefix(936, "\xA1\x40" "a\xFF", 4), 3);
    }
    // A page the system does not know.
    EXPECT_EQ(decode("a", 0, 12345), u"<error 87>");
    EXPECT_EQ(encode(u"a", 0, 12345), "<error 87>");
    // Stateful pages are flushed at the end (UTF-7 closes its base64 run); strict mode is no
    // flag of theirs.
    EXPECT_EQ(decode(encode(u"a\u20ACb\u00E9", 0, 65000), 0, 65000), u"a\u20ACb\u00E9");
    EXPECT_EQ(decode("a", kMbErrInvalidChars, 65000), u"<error 1004>");
    if (kOwnConverter) {
        // Flags a page does not take: any on the ISO-2022 and ISCII pages, unknown ones elsewhere.
        EXPECT_EQ(decode("a", kMbErrInvalidChars, 57002), u"<error 1004>");
        EXPECT_EQ(decode("a", 0x10, 1252), u"<error 1004>");
        EXPECT_EQ(encode(u"a", 0x400, kCodePageUtf8), "<error 1004>");
    }
}

// The double-byte pages: a lead and a trail byte are one character (an unmapped pair one '?',
// in 932 one U+30FB); a lead byte before a byte that cannot be a trail becomes that replacement,
// leaving an ASCII byte on its own but taking a non-ASCII one with it; a lead byte at the end
// becomes the replacement. Strict mode fails on each. both: Wine gives the same.
TEST(CodePage, DoubleBytePagesReplaceABadPairAndKeepWhatFollows) {
    struct Case { unsigned cp; const char* in; std::u16string lenient; int validPrefix; bool both; };
    const Case cases[] = {
        {936, "\xD6\xD0\xCE\xC4", u"\u4E2D\u6587", 4, true}, {949, "\xB0\xA1z", u"\uAC00z", 3, true},
        {950, "\xA4\x40z", u"\u4E00z", 3, true}, {932, "\x82\xA0z", u"\u3042z", 3, true}, {936, "a\xD6", u"a?", 1, true},
        {949, "\xA2\xE8", u"?", 0, false}, {949, "a\xA2\xE8z", u"a?z", 1, false},
        {949, "\xA2\xE8\xB0\xA1", u"?\uAC00", 0, false}, {932, "\x81 z", u"\u30FB z", 0, false},
        {936, "\x81\x7Fz", u"?\x7Fz", 0, false}, {950, "\xA1\x81z", u"?z", 0, false},
        {949, "\xC9\xFF\xB0\xA1", u"?\uAC00", 0, false},
    };
    for (const Case& c : cases) {
        if (!kOwnConverter && !c.both)
            continue;
        SCOPED_TRACE(std::to_string(c.cp) + " case " + std::to_string(&c - cases));
        const std::string in = c.in;
        EXPECT_EQ(decode(in, 0, c.cp), c.lenient);
        EXPECT_EQ(decode(in, kMbErrInvalidChars, c.cp), c.validPrefix == static_cast<int>(in.size()) ? c.lenient : u"<error 1113>");
        if (kOwnConverter) {
            EXPECT_EQ(multiByteValidPrefix(c.cp, in.data(), static_cast<int>(in.size())), c.validPrefix);
        }
    }
    if (!kOwnConverter)
        return;   // the sweep checks this library's handling of the system converter's errors
    // Every byte 81..FE, then every byte and "z", in each double-byte page, for what must hold
    // whatever the page maps: after a lead byte the "z" survives; a byte gives at most one unit;
    // U+0000 comes only from a zero byte; the size query matches what is written, nothing is
    // written beyond it; a terminated input decodes the same plus its zero; strict mode and the
    // valid prefix agree with the lenient result; the 256 inputs of one first byte joined
    // decode as their results joined (a stretch after a bad pair is redone from its start).
    struct Page { unsigned cp; unsigned char leads[6]; };   // lead byte ranges: first, last, ...
    const Page pages[] = {
        {932, {0x81, 0x9F, 0xE0, 0xFC}}, {936, {0x81, 0xFE}}, {949, {0x81, 0xFE}}, {950, {0x81, 0xFE}},
        {1361, {0x84, 0xD3, 0xD8, 0xDE, 0xE0, 0xF9}}, {51936, {0xA1, 0xFE}}, {51949, {0xA1, 0xFE}},
    };
    const std::u16string mark(8, u'#');
    int failures = 0;
    for (const Page& page : pages) {
        const unsigned cp = page.cp;
        for (unsigned first = 0x81; first <= 0xFE && failures < 10; ++first) {
            bool isLead = false;
            for (int k = 0; k < 6; k += 2)
                isLead = isLead || (first >= page.leads[k] && first <= page.leads[k + 1]);
            std::string joined;
            std::u16string joinedWant;
            for (unsigned second = 0; second <= 0xFF; ++second) {
                const std::string in = {static_cast<char>(first), static_cast<char>(second), 'z'};
                const int len = static_cast<int>(in.size());
                const int n = multiByteToWideChar(cp, 0, in.data(), len, nullptr, 0);
                std::u16string out = std::u16string(static_cast<std::size_t>(n > 0 ? n : 0), u'#') + mark;
                const int written = n > 0 ? multiByteToWideChar(cp, 0, in.data(), len, &out[0], n + 8) : 0;
                const std::u16string got = out.substr(0, static_cast<std::size_t>(n > 0 ? n : 0));
                std::string error;
                if (n < (isLead ? 2 : 1) || n > 3 || written != n || out.substr(got.size()) != mark)
                    error = "size " + std::to_string(n) + ", written " + std::to_string(written);
                else if ((isLead && got.back() != u'z') || std::count(got.begin(), got.end(), u'\0') != (second == 0 ? 1 : 0))
                    error = "the text after the pair is damaged";
                else if (second != 0 && decode(std::string(in.c_str()) + '\0', 0, cp) != got + u'\0')
                    error = "a terminated input decodes otherwise";
                else {
                    const int prefix = multiByteValidPrefix(cp, in.data(), len);
                    const std::u16string head = decode(in.substr(0, static_cast<std::size_t>(prefix)), kMbErrInvalidChars, cp);
                    if (prefix == len ? decode(in, kMbErrInvalidChars, cp) != got
                                      : decode(in, kMbErrInvalidChars, cp) != u"<error 1113>" ||
                                            (prefix > 0 && got.compare(0, head.size(), head) != 0) ||
                                            got.find(cp == 932 ? u'\u30FB' : u'?', prefix > 0 ? head.size() : 0) == std::u16string::npos)
                        error = "strict mode or the valid prefix (" + std::to_string(prefix) + ") disagrees";
                }
                if (!error.empty() && failures++ < 10)
                    ADD_FAILURE() << "page " << cp << " bytes " << std::hex << first << ' ' << second << " z: " << error;
                joined += in;
                joinedWant += got;
            }
            if (failures == 0 && decode(joined, 0, cp) != joinedWant && failures++ < 10)
                ADD_FAILURE() << "page " << cp << " first byte " << std::hex << first << ": joined inputs decode otherwise";
        }
    }
}

}  // namespace

// The converter's policies differ only at a fault. Each case runs behind a long valid prefix
// (ASCII and CJK, so the vector paths hand over to the exact path) at every vector level the
// processor has; the bounded cases stop before the character that does not fit.
TEST(Utf8Core, PoliciesDecideOnlyWhatBecomesOfAFault) {
    using utf::Policy;
    constexpr Policy S = Policy::Strict, R = Policy::Replace, E = Policy::ReplaceEachByte, M = Policy::Markup;
    const std::string cjk = "\xE4\xB8\xAD\xE6\x96\x87\xE6\xB5\x8B\xE8\xAF\x95";
    const std::string prefix = std::string(40, 'p') + cjk + cjk;
    const std::u16string prefix16 = std::u16string(40, u'p') + u"\x4E2D\x6587\x6D4B\x8BD5\x4E2D\x6587\x6D4B\x8BD5";
    // ends: a zero character ended the text.
    struct Decode { std::string in; Policy how; std::u16string want; std::size_t read; bool ok = true, ends = false; };
    const std::string zero("ab\0cd", 5);
    const Decode decodes[] = {
        {"a\xE2\x82", S, u"a", 1, false}, {"a\xE2\x82", R, u"a\xFFFD", 3}, {"a\xE2\x82", M, u"a?", 3},
        {"a\xE2\x82", E, u"a\xFFFD\xFFFD", 3}, {"\xF4\x90\x80\x80!", R, u"\xFFFD\xFFFD\xFFFD\xFFFD!", 5},
        {"\xF0\x9F\x98", E, u"\xFFFD\xFFFD\xFFFD", 3}, {"\xF0\x9F\x98\x80x", S, u"\xD83D\xDE00x", 5},
        {"\xF0\x9F\x98\x80x", M, u"\xD83D\xDE00x", 5}, {"\xC0\x80z", S, u"", 0, false},
        {"\xC0\x80z", R, u"\xFFFD\xFFFDz", 3}, {"\xC0\x80z", M, u"", 2, true, true},   // an overlong zero ends the text
        {zero, S, std::u16string(u"ab\0cd", 5), 5}, {zero, M, u"ab", 3, true, true},
        {"\xED\xA0\x80", R, u"\xFFFD\xFFFD\xFFFD", 3}, {"\xED\xA0\x80", M, u"\xD800", 3},
        {"\xF8\x41", R, u"\xFFFD" u"A", 2}, {"\xF8\x41", M, u"?A", 2}, {"\xE4\xB8\xC0", S, u"", 0, false},
        {"\xE4\xB8\xC0", R, u"\xFFFD\xFFFD", 3},
        {"\xE4\xB8\xC0", M, u"\x4E00", 3},   // any byte with its top bit set continues
    };
    struct Encode { std::u16string in; Policy how; std::string want; std::size_t read; bool ok = true; };
    const Encode encodes[] = {
        {u"a\xD800", S, "a", 1, false}, {u"a\xD800", R, "a\xEF\xBF\xBD", 2}, {u"a\xD800", M, "a?", 2},
        {u"\xD800" u"b", R, "\xEF\xBF\xBD" "b", 2},
        {u"\xD800" u"b", M, "\xF0\x90\x81\xA2", 2},   // pairs with any unit
        {u"\xDC00\xD800\xDC00", R, "\xEF\xBF\xBD\xF0\x90\x80\x80", 3},
        {u"\xDC00\xD800\xDC00", M, "\xF0\x90\x80\x80?", 3}, {u"\xD83D\xDE00", S, "\xF0\x9F\x98\x80", 2},
    };
    for (int level = 0; level <= 2; ++level) {
        utf::forceSimdLevel(level);
        const std::string at = "level " + std::to_string(utf::simdLevel());
        for (const Decode& c : decodes) {
            SCOPED_TRACE(at + ", input " + std::to_string(&c - decodes));
            const std::string in = prefix + c.in;
            const std::u16string want = prefix16 + c.want;
            std::u16string out(in.size(), u'\0');
            const utf::Result r = utf::utf8To16(in.data(), in.size(), &out[0], out.size(), c.how);
            EXPECT_EQ(out.substr(0, r.written), want);
            EXPECT_EQ(std::make_tuple(r.read, r.ok, r.terminated),
                      std::make_tuple(prefix.size() + c.read, c.ok, c.ends));
            EXPECT_EQ(utf::utf8To16(in.data(), in.size(), nullptr, 0, c.how).written, want.size());
        }
        for (const Encode& c : encodes) {
            SCOPED_TRACE(at + ", text " + std::to_string(&c - encodes));
            const std::u16string in = prefix16 + c.in;
            std::string out(3 * in.size(), '\0');
            const utf::Result r = utf::utf16To8(in.data(), in.size(), &out[0], out.size(), c.how);
            EXPECT_EQ(out.substr(0, r.written), prefix + c.want);
            EXPECT_EQ(std::make_pair(r.read, r.ok), std::make_pair(prefix16.size() + c.read, c.ok));
        }
        // Bounded: the four-byte character after the prefix needs two units and one is left; a
        // three-byte character has two bytes of room.
        const std::string in = prefix + "\xF0\x9F\x98\x80";
        std::u16string out(prefix16.size() + 1, u'\0');
        const utf::Result r = utf::utf8To16(in.data(), in.size(), &out[0], out.size(), S);
        EXPECT_EQ(std::make_tuple(r.full, r.ok, r.read), std::make_tuple(true, true, prefix.size())) << at;
        EXPECT_EQ(out.substr(0, r.written), prefix16) << at;
        std::string bytes(prefix.size() + 2, '\0');
        const utf::Result w = utf::utf16To8(prefix16.data(), prefix16.size(), &bytes[0], prefix.size() - 1, S);
        EXPECT_EQ(std::make_tuple(w.full, w.written, w.read),
                  std::make_tuple(true, prefix.size() - 3, prefix16.size() - 1)) << at;
    }
    // Zero-terminated lengths at every offset within a block and across block boundaries, at
    // each vector level (16- and 64-byte blocks).
    std::u16string buffer(128, u'x');
    for (int level = 0; level <= 2; ++level) {
        utf::forceSimdLevel(level);
        for (std::size_t start = 0; start < 32; ++start)
            for (std::size_t length = 0; length < 80; ++length) {
                buffer.assign(128, u'x');
                buffer[start + length] = 0;
                EXPECT_EQ(utf::length16(buffer.data() + start), length) << level << " " << start;
            }
    }
    utf::forceSimdLevel(-1);
}
