// The INI text engine on well-formed and damaged files, and rewriting cases found by fuzzing.
#include "platform/ini.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

namespace {

using platform::ini::lookup;
using platform::ini::update;

std::u16string get(const std::string& text, const std::u16string& section,
                   const std::u16string& key) {
    std::u16string v = u"<missing>";
    lookup(text, section, key, &v);
    return v;
}

TEST(IniLookup, FindsKeysByCaseInsensitiveNamesWithTrimmedValues) {
    const std::string text =
        "top=level\n; comment=not a key\n[Video]\n  FPS =  60  \nquoted=\" spaced \"\n"
        "single='x'\nmixed=\"a'\nempty=\neq=a=b\ngarbage line without equals\n"
        "  [ Audio ]  trailing\ndevice=default\n[\xC3\x9C" "ber]\n\xC3\xA4=umlaut\n";
    const struct { const char16_t *section, *key, *value; } cases[] = {
        {u"video", u"fps", u"60"}, {u"VIDEO", u"quoted", u" spaced "}, {u"video", u"single", u"x"},
        {u"video", u"mixed", u"\"a'"}, {u"video", u"empty", u""}, {u"video", u"eq", u"a=b"},
        {u"audio", u"device", u"default"}, {u"\u00DCber", u"\u00E4", u"umlaut"},
        {u"", u"top", u"<missing>"},  // before any section
        {u"video", u"; comment", u"<missing>"}, {u"video", u"device", u"<missing>"},
        {u"nosuch", u"fps", u"<missing>"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.value, get(text, c.section, c.key)) << nxtest::narrow(c.section) << "/"
                                                        << nxtest::narrow(c.key);
}

TEST(IniLookup, ToleratesDamagedFiles) {
    // Duplicate sections: entries of every occurrence count, the first match wins.
    const std::string dup = "[a]\nx=1\n[b]\ny=2\n[A]\nx=3\nz=4\n";
    EXPECT_EQ(u"1", get(dup, u"a", u"x"));
    EXPECT_EQ(u"4", get(dup, u"a", u"z"));
    // No trailing newline, CR LF, an unclosed section header.
    EXPECT_EQ(u"v", get("[s]\r\nk=v", u"s", u"k"));
    EXPECT_EQ(u"v", get("[s\nk=v\r\n", u"s", u"k"));
    // Invalid UTF-8 compares as U+FFFD and does not disturb its neighbours.
    const std::string bad = "[s]\nbad\xFF=val\xFE\ngood=ok\n\xC0\xAF\n";
    EXPECT_EQ(u"ok", get(bad, u"s", u"good"));
    EXPECT_EQ(u"val\uFFFD", get(bad, u"s", u"bad\uFFFD"));
    // A huge line and binary garbage.
    const std::string huge = "[s]\nbig=" + std::string(1 << 20, 'q') + "\n" +
                             std::string("\0\x01\x02=\x03\n", 6) + "after=1\n";
    EXPECT_EQ(std::u16string(1 << 20, u'q'), get(huge, u"s", u"big"));
    EXPECT_EQ(u"1", get(huge, u"s", u"after"));
    EXPECT_EQ(u"<missing>", get("", u"s", u"k"));
}

TEST(IniUpdate, ChangesOrInsertsOneLineAndKeepsEveryOtherByte) {
    const std::string text = "; header comment\n\n[video]\nfps=60\n\n; tail\n[audio]\nx=1\n";
    const struct {
        std::string before;
        const char16_t *section, *key, *value;
        std::string after;
    } cases[] = {
        {text, u"Video", u"FPS", u"30", "; header comment\n\n[video]\nfps=30\n\n; tail\n[audio]\nx=1\n"},
        // A new key goes after the section's last entry, before its blank line and comments.
        {text, u"video", u"codec", u"h264",
         "; header comment\n\n[video]\nfps=60\ncodec=h264\n\n; tail\n[audio]\nx=1\n"},
        {text, u"net", u"port", u"80", text + "[net]\nport=80\n"},  // a new section is appended
        {"", u"s", u"k", u"v", "[s]\nk=v\n"},
        // CR LF files get CR LF lines; a last line without its end is completed first.
        {"[s]\r\na=1", u"s", u"b", u"2", "[s]\r\na=1\r\nb=2\r\n"},
        {"[s]\r\na=1", u"s", u"A", u"9", "[s]\r\na=9"},  // the key keeps its spelling
        {"x", u"s", u"k", u"v", "x\n[s]\nk=v\n"},
        {"[s]\n[t]\n", u"s", u"k", u"v", "[s]\nk=v\n[t]\n"},  // right after an empty section's header
        {"", u"\u00FC", u"\u4E2D", u"\U0001F600", "[\xC3\xBC]\n\xE4\xB8\xAD=\xF0\x9F\x98\x80\n"},
        // A last line ending in a lone CR (found by fuzzing): only the LF is added.
        {"[a]\nk=1\r", u"a", u"n", u"2", "[a]\nk=1\r\nn=2\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.after, update(c.before, c.section, c.key, c.value))
            << "set " << nxtest::narrow(c.key) << " in " << nxtest::narrow(c.section);
}

TEST(IniUpdate, DamagedFilesKeepTheirOtherEntries) {
    const std::string bad = std::string("junk \xFF\xFE line\n[s]\nk=1\n\x01\x02\x03\n[s]\nj=2\n") +
                            "[other]\n" + std::string(100000, 'z') + "=huge\nlast=1";
    std::string expected = bad;  // only the line "j=2" changes
    expected.replace(expected.find("j=2"), 3, "j=20");
    const std::string out = update(bad, u"s", u"j", u"20");
    EXPECT_EQ(expected, out);
    EXPECT_EQ(u"huge", get(out, u"other", std::u16string(100000, u'z')));
    EXPECT_EQ(u"1", get(out, u"other", u"last"));
    // Inserting into the first occurrence of a duplicated section.
    const std::string added = update(bad, u"S", u"new", u"v");
    EXPECT_NE(std::string::npos, added.find("k=1\nnew=v\n\x01\x02\x03\n"));
    EXPECT_EQ(u"v", get(added, u"s", u"new"));
}

TEST(IniUpdate, LastLineEndingInCarriageReturnKeepsItsValue) {
    // A last line "k=1\r\r" without a line feed reads as "1\r" (one carriage return is the
    // line end). Completing it for a new entry must not add a second one to its value.
    for (const std::string text : {"[a]\nk=1\r\r", "[a]\r\nk=1\r\r"}) {
        SCOPED_TRACE(text.substr(3, 1) == "\r" ? "CR LF file" : "LF file");
        const std::u16string before = get(text, u"a", u"k");
        ASSERT_EQ(u"1\r", before);
        for (const char16_t* section : {u"a", u"b"}) {
            const std::string updated = update(text, section, u"n", u"2");
            EXPECT_EQ(before, get(updated, u"a", u"k")) << nxtest::narrow(section);
            EXPECT_EQ(u"2", get(updated, section, u"n")) << nxtest::narrow(section);
            EXPECT_EQ(0, updated.compare(0, text.size(), text));  // nothing of the old text lost
        }
    }
}

}  // namespace
