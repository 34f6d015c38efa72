// The INI text engine on UTF-8 and damaged files, and rewriting cases found by fuzzing (which
// also checks that an update keeps every other entry of a damaged file).
#include "platform/ini.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace {

using platform::ini::update;

std::u16string get(const std::string& text, const std::u16string& section, const std::u16string& key) {
    std::u16string v = u"<missing>";
    platform::ini::lookup(text, section, key, &v);
    return v;
}

// What the profile table (test_profile.cpp) cannot show through the system's functions: UTF-8
// names, invalid and huge bytes, and the lines before the first section.
TEST(IniLookup, ReadsUtf8NamesAndToleratesDamage) {
    const std::string text =
        "top=level\n[Video]\nfps=60\n[\xC3\x9C" "ber]\n\xC3\xA4=umlaut\n";
    // Invalid UTF-8 compares as U+FFFD and does not disturb its neighbours.
    const std::string bad = "[s]\nbad\xFF=val\xFE\ngood=ok\n\xC0\xAF\n";
    const std::string huge = "[s]\nbig=" + std::string(1 << 20, 'q') + "\n" +
                             std::string("\0\x01\x02=\x03\n", 6) + "after=1\n";
    const struct { std::string text; const char16_t *section, *key; std::u16string value; } cases[] = {
        {text, u"\u00DCber", u"\u00E4", u"umlaut"}, {text, u"video", u"fps", u"60"},
        {text, u"", u"top", u"<missing>"},  // before any section
        {bad, u"s", u"good", u"ok"}, {bad, u"s", u"bad\uFFFD", u"val\uFFFD"},
        {huge, u"s", u"big", std::u16string(1 << 20, u'q')}, {huge, u"s", u"after", u"1"},
        {"", u"s", u"k", u"<missing>"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.value, get(c.text, c.section, c.key))
            << "row " << &c - cases << ": " << nxtest::narrow(c.section) << "/" << nxtest::narrow(c.key);
}

TEST(IniUpdate, ChangesOrInsertsOneLineAndKeepsEveryOtherByte) {
    const std::string text = "; header comment\n\n[video]\nfps=60\n\n; tail\n[audio]\nx=1\n";
    const struct {
        std::string before;
        const char16_t *section, *key, *value;
        std::string after;
    } cases[] = {
        // A new key goes after the section's last line that is not blank: "; tail" is a key.
        {text, u"video", u"codec", u"h264",
         "; header comment\n\n[video]\nfps=60\n\n; tail\ncodec=h264\n[audio]\nx=1\n"},
        {"x", u"s", u"k", u"v", "x\r\n[s]\r\nk=v\r\n"},  // no line end yet: CR LF
        {"[s]\rk=1\r", u"s", u"n", u"2", "[s]\rk=1\rn=2\r"},  // lone CR lines
        {"[s]\n[t]\n", u"s", u"k", u"v", "[s]\nk=v\n[t]\n"},  // right after an empty section's header
        {"[s]\nk=1\n\x01\n[S]\n", u"S", u"n", u"v", "[s]\nk=1\n\x01\nn=v\n[S]\n"},  // first of duplicates
        {"", u"\u00FC", u"\u4E2D", u"\U0001F600", "[\xC3\xBC]\r\n\xE4\xB8\xAD=\xF0\x9F\x98\x80\r\n"},
        // A last line ending in CRs (found by fuzzing): a CR LF file gets the missing LF.
        {"[a]\nk=1\r", u"a", u"n", u"2", "[a]\nk=1\rn=2\n"},
        {"[a]\nk=1\r\r", u"a", u"n", u"2", "[a]\nk=1\rn=2\n\r"},  // before the blank line
        {"[a]\r\nk=1\r\r", u"b", u"n", u"2", "[a]\r\nk=1\r\r\n[b]\r\nn=2\r\n"},
    };
    for (const auto& c : cases) {
        const std::string updated = update(c.before, c.section, c.key, c.value);
        EXPECT_EQ(c.after, updated) << "set " << nxtest::narrow(c.key) << " in " << nxtest::narrow(c.section);
        EXPECT_EQ(c.value, get(updated, c.section, c.key));
    }
}

// What a writer must refuse: anything the reader would split, cut or take for another line.
TEST(IniStorable, RefusesWhatWouldNotReadBackAsWritten) {
    const struct { const char16_t *section, *key, *value; bool ok; } cases[] = {
        {u"App", u"name", u"any [text] = ; here", true}, {u"", u"", u"", true},
        {u"App", u"k;x", u"v", true}, {u"A[b", u"k[", u"v", true},
        {u"App", u"name", u"x\n[Auth]\ntoken=attacker", false}, {u"App", u"name", u"x\ry", false},
        {u"App\n", u"k", u"v", false}, {u"App]x", u"k", u"v", false}, {u"App", u"k\r", u"v", false},
        {u"App", u"a=b", u"v", false}, {u"App", u"[k", u"v", false}, {u"App", u" \t[k", u"v", false},
        {u"App", u" \t;k", u"v", true},  // no comment syntax: reads back as a key
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.ok, platform::ini::storable(c.section, c.key, c.value))
            << nxtest::narrow(c.section) << "|" << nxtest::narrow(c.key) << "|" << nxtest::narrow(c.value);
}

}  // namespace
