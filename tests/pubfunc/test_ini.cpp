// The INI text engine on well-formed and damaged files, and rewriting cases found by fuzzing
// (which also checks that an update keeps every other entry of a damaged file).
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

TEST(IniLookup, FindsKeysByCaseInsensitiveNamesWithTrimmedValuesAndToleratesDamage) {
    const std::string text =
        "top=level\n; comment=not a key\n[Video]\n  FPS =  60  \nquoted=\" spaced \"\n"
        "single='x'\nmixed=\"a'\nempty=\neq=a=b\ngarbage line without equals\n"
        "  [ Audio ]  trailing\ndevice=default\n[\xC3\x9C" "ber]\n\xC3\xA4=umlaut\n";
    // Duplicate sections: entries of every occurrence count, the first match wins.
    const std::string dup = "[a]\nx=1\n[b]\ny=2\n[A]\nx=3\nz=4\n";
    // Invalid UTF-8 compares as U+FFFD and does not disturb its neighbours.
    const std::string bad = "[s]\nbad\xFF=val\xFE\ngood=ok\n\xC0\xAF\n";
    const std::string huge = "[s]\nbig=" + std::string(1 << 20, 'q') + "\n" +
                             std::string("\0\x01\x02=\x03\n", 6) + "after=1\n";
    const struct { std::string text; const char16_t *section, *key; std::u16string value; } cases[] = {
        {text, u"video", u"fps", u"60"}, {text, u"VIDEO", u"quoted", u" spaced "},
        {text, u"video", u"single", u"x"}, {text, u"video", u"mixed", u"\"a'"},
        {text, u"video", u"empty", u""}, {text, u"video", u"eq", u"a=b"},
        {text, u"audio", u"device", u"default"}, {text, u"\u00DCber", u"\u00E4", u"umlaut"},
        {text, u"", u"top", u"<missing>"},  // before any section
        {text, u"video", u"; comment", u"<missing>"}, {text, u"video", u"device", u"<missing>"},
        {text, u"nosuch", u"fps", u"<missing>"}, {dup, u"a", u"x", u"1"}, {dup, u"a", u"z", u"4"},
        {"[s]\r\nk=v", u"s", u"k", u"v"},  // CR LF, no last line end
        {"[s\nk=v\r\n", u"s", u"k", u"v"},  // an unclosed section header
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
        {"[s]\nk=1\n\x01\n[S]\n", u"S", u"n", u"v", "[s]\nk=1\nn=v\n\x01\n[S]\n"},  // first of duplicates
        {"", u"\u00FC", u"\u4E2D", u"\U0001F600", "[\xC3\xBC]\n\xE4\xB8\xAD=\xF0\x9F\x98\x80\n"},
        // A last line ending in a lone CR (found by fuzzing): only the LF is added.
        {"[a]\nk=1\r", u"a", u"n", u"2", "[a]\nk=1\r\nn=2\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.after, update(c.before, c.section, c.key, c.value))
            << "set " << nxtest::narrow(c.key) << " in " << nxtest::narrow(c.section);
}

// What a writer must refuse: anything the reader would split, cut or take for another line.
TEST(IniStorable, RefusesWhatWouldNotReadBackAsWritten) {
    const struct { const char16_t *section, *key, *value; bool ok; } cases[] = {
        {u"App", u"name", u"any [text] = ; here", true}, {u"", u"", u"", true},
        {u"App", u"k;x", u"v", true}, {u"A[b", u"k[", u"v", true},
        {u"App", u"name", u"x\n[Auth]\ntoken=attacker", false}, {u"App", u"name", u"x\ry", false},
        {u"App\n", u"k", u"v", false}, {u"App]x", u"k", u"v", false}, {u"App", u"k\r", u"v", false},
        {u"App", u"a=b", u"v", false}, {u"App", u"[k", u"v", false}, {u"App", u" \t;k", u"v", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.ok, platform::ini::storable(c.section, c.key, c.value))
            << nxtest::narrow(c.section) << "|" << nxtest::narrow(c.key) << "|" << nxtest::narrow(c.value);
}

TEST(IniUpdate, LastLineEndingInCarriageReturnKeepsItsValue) {
    // A last line "k=1\r\r" without a line feed reads as "1\r" (one carriage return is the
    // line end). Completing it for a new entry must not add a second one to its value.
    for (const std::string text : {"[a]\nk=1\r\r", "[a]\r\nk=1\r\r"}) {
        SCOPED_TRACE(text.substr(3, 1) == "\r" ? "CR LF file" : "LF file");
        ASSERT_EQ(u"1\r", get(text, u"a", u"k"));
        for (const char16_t* section : {u"a", u"b"}) {
            const std::string updated = update(text, section, u"n", u"2");
            EXPECT_EQ(u"1\r", get(updated, u"a", u"k")) << nxtest::narrow(section);
            EXPECT_EQ(u"2", get(updated, section, u"n")) << nxtest::narrow(section);
            EXPECT_EQ(0, updated.compare(0, text.size(), text));  // nothing of the old text lost
        }
    }
}

}  // namespace
