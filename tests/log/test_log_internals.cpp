// The directory rule and the line encoder behind the logger.
#include "log/log_file.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace {

TEST(LogPaths, DirectoryPartPrefersTheLastBackslash) {
    struct Case {
        const char16_t* path;
        const char16_t* dir;
        const char16_t* name;
    } cases[] = {
        {u"C:\\logs\\app.log", u"C:\\logs", u"app.log"},
        {u"/var/log/app.log", u"/var/log", u"app.log"},
        {u"C:\\folder/app.log", u"C:", u"folder/app.log"},  // the backslash wins
        {u"C:/a\\b/c.log", u"C:/a", u"b/c.log"},
        {u"app.log", u"", u"app.log"},
        {u"/app.log", u"", u"app.log"},
        {u"dir/", u"dir", u""},
        {u"", u"", u""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(std::u16string(c.dir), TRK::logDirectoryPart(c.path)) << nxtest::narrow(c.path);
        EXPECT_EQ(std::u16string(c.name), TRK::logFileNamePart(c.path)) << nxtest::narrow(c.path);
    }
}

TEST(LogEncoding, Utf8ReplacesLoneSurrogatesAndKeepsPairs) {
    struct Case {
        std::u16string in;
        std::string out;
    } cases[] = {
        {u"abc", "abc"},
        {u"\u00FC", "\xC3\xBC"},
        {u"\u07FF\u0800\uFFFF", "\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF"},
        {u"\U0010FFFF", "\xF4\x8F\xBF\xBF"},
        {std::u16string(1, char16_t(0xD83D)), "\xEF\xBF\xBD"},           // high alone
        {std::u16string(1, char16_t(0xDE00)) + u"x", "\xEF\xBF\xBDx"},   // low alone
        {std::u16string{char16_t(0xDE00), char16_t(0xD83D)}, "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {std::u16string(3, u'\0'), std::string(3, '\0')},
    };
    for (const Case& c : cases) {
        std::string out = "pre";
        TRK::appendUtf8(out, c.in.data(), c.in.size());
        EXPECT_EQ("pre" + c.out, out) << "row " << &c - cases;
    }
    // A pair cut in the middle by the unit count becomes a replacement character.
    const std::u16string pair = u"\U0001F600";
    std::string out;
    TRK::appendUtf8(out, pair.data(), 1);
    EXPECT_EQ("\xEF\xBF\xBD", out);
}

}  // namespace
