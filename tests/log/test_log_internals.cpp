// The directory rule and the line encoder behind the logger.
#include "log/log_file.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace {

TEST(LogPaths, DirectoryPartPrefersTheLastBackslash) {
    const struct { const char16_t *path, *dir, *name; } cases[] = {
        {u"C:\\logs\\app.log", u"C:\\logs", u"app.log"}, {u"/var/log/app.log", u"/var/log", u"app.log"},
        {u"C:\\folder/app.log", u"C:", u"folder/app.log"},  // the backslash wins
        {u"app.log", u"", u"app.log"}, {u"/app.log", u"", u"app.log"}, {u"dir/", u"dir", u""},
        {u"", u"", u""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(std::u16string(c.dir), TRK::logDirectoryPart(c.path)) << nxtest::narrow(c.path);
        EXPECT_EQ(std::u16string(c.name), TRK::logFileNamePart(c.path)) << nxtest::narrow(c.path);
    }
}

TEST(LogEncoding, Utf8ReplacesLoneSurrogatesAndKeepsPairs) {
    const struct { std::u16string in; std::string out; } cases[] = {
        {u"a\u007F\u0080\u07FF\u0800\uFFFF", "a\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF"},
        {u"\U00010000\U0010FFFF", "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"},
        {std::u16string(1, char16_t(0xD83D)), "\xEF\xBF\xBD"},           // high alone
        {std::u16string(1, char16_t(0xDE00)) + u"x", "\xEF\xBF\xBDx"},   // low alone
        {std::u16string{char16_t(0xDE00), char16_t(0xD83D)}, "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {std::u16string(3, u'\0'), std::string(3, '\0')},
    };
    for (const auto& c : cases) {
        std::string out = "pre";
        TRK::appendUtf8(out, c.in.data(), c.in.size());
        EXPECT_EQ("pre" + c.out, out) << "row " << &c - cases;
    }
    std::string cut;  // a pair cut in the middle by the unit count
    TRK::appendUtf8(cut, u"\U0001F600", 1);
    EXPECT_EQ("\xEF\xBF\xBD", cut);
}

}  // namespace
