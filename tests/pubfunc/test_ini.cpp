// The INI text engine on well-formed and damaged files.
#include "platform/ini.h"

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
        "top=level\n"
        "; comment=not a key\n"
        "[Video]\n"
        "  FPS =  60  \n"
        "quoted=\" spaced \"\n"
        "single='x'\n"
        "mixed=\"a'\n"
        "empty=\n"
        "eq=a=b\n"
        "garbage line without equals\n"
        "  [ Audio ]  trailing\n"
        "device=default\n"
        "[\xC3\x9C" "ber]\n"
        "\xC3\xA4=umlaut\n";
    EXPECT_EQ(u"60", get(text, u"video", u"fps"));
    EXPECT_EQ(u" spaced ", get(text, u"VIDEO", u"quoted"));
    EXPECT_EQ(u"x", get(text, u"video", u"single"));
    EXPECT_EQ(u"\"a'", get(text, u"video", u"mixed"));
    EXPECT_EQ(u"", get(text, u"video", u"empty"));
    EXPECT_EQ(u"a=b", get(text, u"video", u"eq"));
    EXPECT_EQ(u"default", get(text, u"audio", u"device"));
    EXPECT_EQ(u"<missing>", get(text, u"", u"top"));           // before any section
    EXPECT_EQ(u"<missing>", get(text, u"video", u"; comment"));
    EXPECT_EQ(u"<missing>", get(text, u"video", u"device"));
    EXPECT_EQ(u"<missing>", get(text, u"nosuch", u"fps"));
    EXPECT_EQ(u"umlaut", get(text, u"\u00DCber", u"\u00E4"));
}

TEST(IniLookup, ToleratesDamagedFiles) {
    // Duplicate sections: entries of every occurrence count, the first match wins.
    const std::string dup = "[a]\nx=1\n[b]\ny=2\n[A]\nx=3\nz=4\n";
    EXPECT_EQ(u"1", get(dup, u"a", u"x"));
    EXPECT_EQ(u"4", get(dup, u"a", u"z"));
    // No trailing newline, CR LF, a lone CR, an unclosed section header.
    EXPECT_EQ(u"v", get("[s]\r\nk=v", u"s", u"k"));
    EXPECT_EQ(u"v", get("[s\nk=v\r\n", u"s", u"k"));
    // Invalid UTF-8 compares as U+FFFD and does not disturb its neighbours.
    const std::string bad = "[s]\nbad\xFF=val\xFE\ngood=ok\n\xC0\xAF\n";
    EXPECT_EQ(u"ok", get(bad, u"s", u"good"));
    EXPECT_EQ(u"val\uFFFD", get(bad, u"s", u"bad\uFFFD"));
    // A huge line and binary garbage.
    std::string huge = "[s]\nbig=" + std::string(1 << 20, 'q') + "\n";
    huge += std::string("\0\x01\x02=\x03\n", 6) + "after=1\n";
    EXPECT_EQ(std::u16string(1 << 20, u'q'), get(huge, u"s", u"big"));
    EXPECT_EQ(u"1", get(huge, u"s", u"after"));
    EXPECT_EQ(u"<missing>", get("", u"s", u"k"));
}

TEST(IniUpdate, ChangesOneLineAndKeepsEveryOtherByte) {
    const std::string text = "; header comment\n\n[video]\nfps=60\n\n; tail\n[audio]\nx=1\n";
    EXPECT_EQ("; header comment\n\n[video]\nfps=30\n\n; tail\n[audio]\nx=1\n",
              update(text, u"Video", u"FPS", u"30"));
    // A new key goes after the section's last entry, before its blank line and comments.
    EXPECT_EQ("; header comment\n\n[video]\nfps=60\ncodec=h264\n\n; tail\n[audio]\nx=1\n",
              update(text, u"video", u"codec", u"h264"));
    // A new section is appended.
    EXPECT_EQ(text + "[net]\nport=80\n", update(text, u"net", u"port", u"80"));
    EXPECT_EQ("[s]\nk=v\n", update("", u"s", u"k", u"v"));
    // CR LF files get CR LF lines; a last line without its end is completed first.
    EXPECT_EQ("[s]\r\na=1\r\nb=2\r\n", update("[s]\r\na=1", u"s", u"b", u"2"));
    EXPECT_EQ("[s]\r\na=9", update("[s]\r\na=1", u"s", u"A", u"9"));
    EXPECT_EQ("x\n[s]\nk=v\n", update("x", u"s", u"k", u"v"));
    // An empty section gets its first entry right after the header.
    EXPECT_EQ("[s]\nk=v\n[t]\n", update("[s]\n[t]\n", u"s", u"k", u"v"));
    // Non-ASCII names and values are written as UTF-8.
    EXPECT_EQ("[\xC3\xBC]\n\xE4\xB8\xAD=\xF0\x9F\x98\x80\n",
              update("", u"\u00FC", u"\u4E2D", u"\U0001F600"));
}

TEST(IniUpdate, DamagedFilesKeepTheirOtherEntries) {
    const std::string bad = std::string("junk \xFF\xFE line\n[s]\nk=1\n\x01\x02\x03\n[s]\nj=2\n") +
                            "[other]\n" + std::string(100000, 'z') + "=huge\nlast=1";
    const std::string out = update(bad, u"s", u"j", u"20");
    // Only the line "j=2" changed.
    std::string expected = bad;
    expected.replace(expected.find("j=2"), 3, "j=20");
    EXPECT_EQ(expected, out);
    EXPECT_EQ(u"huge", get(out, u"other", std::u16string(100000, u'z')));
    EXPECT_EQ(u"1", get(out, u"other", u"last"));
    // Inserting into the first occurrence of a duplicated section.
    const std::string added = update(bad, u"S", u"new", u"v");
    EXPECT_NE(std::string::npos, added.find("k=1\nnew=v\n\x01\x02\x03\n"));
    EXPECT_EQ(u"v", get(added, u"s", u"new"));
}

}  // namespace
