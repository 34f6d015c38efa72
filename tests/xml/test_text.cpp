// Escaping, unescaping, the UTF-8 / UTF-16 conversions, and documents read from and written to
// UTF-8 files with the reports left in GetError().
#include "platform/syscalls.h"
#include "support/temp_dir.h"
#include "support/test_support.h"
#include "xml/xml.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <tuple>
#include <vector>

using nxtest::narrow;

TEST(XmlEscape, EscapesAndUnescapesMarkupCharactersAndReferences) {
    // Rows: input, escape flags or unescape length (-1: up to the zero), output.
    const std::tuple<const char16_t*, int, const char16_t*> escapes[] = {
        {u"a<b&c>\u4e2d'\"", 0, u"a&lt;b&amp;c&gt;\u4e2d'\""},
        {u"'\"", CMarkup::OPT_ESCAPE_QUOTES, u"&apos;&quot;"},
        {u"", 0, u""}, {nullptr, 0, u""}, {u"&amp; &#x41;", 0, u"&amp;amp; &amp;#x41;"},
        {u"&amp; &#x41; & b", CMarkup::OPT_KEEP_REFS, u"&amp; &#x41; &amp; b"},
        {u"&a-b.c:d; &\u00e9t\u00e9; &1; &a", CMarkup::OPT_KEEP_REFS,
         u"&a-b.c:d; &\u00e9t\u00e9; &amp;1; &amp;a"},
    }, unescapes[] = {
        {u"&#65;&#x41;&lt;", -1, u"AA<"},
        {u"&#X41; &#0; &#12345678; &Lt; &bogus;", -1, u"&#X41; &#0; &#12345678; &Lt; &bogus;"},
        {u"&amp;&gt;&apos;&quot;", -1, u"&>'\""}, {u"a&lt;b", 4, u"a&lt"}, {u"a&lt;b", 5, u"a<"},
        {u"&#1234567;", -1, u"\xD687"}, {u"&# 65;&#-1;", -1, u"A\xFFFF"}, {u"&#x0x41;", -1, u"A"},
        {u"&", -1, u"&"}, {u"&#", -1, u"&#"},
    };
    for (const auto& [in, flags, out] : escapes)
        EXPECT_EQ(CMarkup::EscapeText(in, flags), out) << (in ? narrow(in) : "null");
    for (const auto& [in, length, out] : unescapes)
        EXPECT_EQ(CMarkup::UnescapeText(in, length), out) << narrow(in);
}

TEST(XmlUtf, DecodesCountsAndConvertsWithinBoundsStoppingAtAnyZeroEvenOverlong) {
    const std::tuple<const char*, int, int> decodes[] = {  // bytes, code point, bytes consumed
        {"\xE4\xB8\xAD", 0x4E2D, 3}, {"\xE4\xB8", -1, 2},  // the zero is not consumed
        {"\x80\x80", 0, 2},  // a continuation acts as a 2-byte lead
        {"\xF8x", -1, 1},
    };
    for (const auto& [bytes, codePoint, consumed] : decodes) {
        const char* p = bytes;
        EXPECT_EQ(CMarkup::DecodeCharUTF8(p), codePoint) << bytes;
        EXPECT_EQ(p - bytes, consumed) << bytes;
    }
    // Byte counts at the length boundaries; the round trip and the file tests check the bytes.
    int counted = 0;  // null buffer: counts only
    for (int cp : {0x7F, 0x80, 0x7FF, 0x800, 0xFFFF, 0x10000})
        CMarkup::EncodeCharUTF8(cp, nullptr, counted);
    EXPECT_EQ(counted, 1 + 2 + 2 + 3 + 3 + 4);
    const char16_t lone[] = {0xD800, 0};  // a high surrogate without its pair
    const char16_t* l = lone;
    EXPECT_EQ(CMarkup::DecodeCharUTF16(l), -1);
    EXPECT_EQ(l, lone + 1);

    // Rows: bytes, units counted (null buffer), bytes consumed and units written (then '#').
    const std::tuple<std::string, int, int, std::u16string> to16[] = {
        {"\xE4\xB8", 1, 2, u"?#"},
        {std::string("abcdefghij\0klmnop", 17), 10, 11, std::u16string(u"abcdefghij\0#", 12)},
        // Found by fuzzing: C0 80 and E0 80 80 decode to zero; with four or more bytes left they
        // take the inline decoding, which must end the text like a plain zero byte.
        {std::string("ab\0cdefgh", 9), 2, 3, std::u16string(u"ab\0#", 4)},
        {std::string("ab\xC0\x80" "cdefgh", 10), 2, 4, std::u16string(u"ab\0#", 4)},
        {std::string("ab\xE0\x80\x80" "cdefgh", 11), 2, 5, std::u16string(u"ab\0#", 4)},
    };
    for (const auto& [in, units, consumed, written] : to16) {
        SCOPED_TRACE(in);
        const int count = static_cast<int>(in.size());
        EXPECT_EQ(CMarkup::UTF8To16(nullptr, in.data(), count), units);
        std::u16string out(32, u'#');
        EXPECT_EQ(CMarkup::UTF8To16(&out[0], in.data(), count), consumed);
        EXPECT_EQ(out.substr(0, written.size()), written);
    }
    // Rows: units, room, bytes written (then a zero).
    const std::tuple<const char16_t*, int, const char*> to8[] = {
        {u"a\xD800", 32, "a?"},  // a lone high surrogate at the end
        {u"", 1, ""},
    };
    for (const auto& [in, room, written] : to8) {
        SCOPED_TRACE(narrow(in) + " room " + std::to_string(room));
        std::string bytes(32, 'Z');
        EXPECT_EQ(CMarkup::UTF16To8(&bytes[0], in, room), static_cast<int>(std::strlen(written)));
        EXPECT_EQ(bytes.substr(0, std::strlen(written) + 1), std::string(written) + '\0');
    }
}

TEST(XmlUtf, RoundTripsRandomValidTextAndCutsAtWholeCharacters) {
    // ASCII (in runs, for the eight-at-a-time path), two-, three- and four-byte characters.
    const unsigned first[] = {1, 0x80, 0xE000, 0x10000}, count[] = {0x7F, 0x780, 0x1FFE, 0xFFFFF};
    std::mt19937 rng(99);
    for (int round = 0; round < 2000; ++round) {
        std::u16string text;
        for (int i = static_cast<int>(rng() % 50); i > 0; --i) {
            const unsigned kind = rng() % 4;
            for (int run = kind ? 0 : static_cast<int>(rng() % 20); run >= 0; --run) {
                int n = static_cast<int>(text.size());
                text.resize(text.size() + 2);
                CMarkup::EncodeCharUTF16(static_cast<int>(first[kind] + rng() % count[kind]),
                                         &text[0], n);
                text.resize(static_cast<std::size_t>(n));
            }
        }
        SCOPED_TRACE("round " + std::to_string(round));
        const int bytes = CMarkup::UTF16To8(nullptr, text.c_str(), 0);
        std::string utf8(static_cast<std::size_t>(bytes) + 1, '\0');
        ASSERT_EQ(CMarkup::UTF16To8(&utf8[0], text.c_str(), bytes + 1), bytes);
        // A smaller buffer gets the longest run of whole characters that fits, then a zero.
        const int room = static_cast<int>(rng() % static_cast<unsigned>(bytes + 1));
        int fits = room;
        while (fits > 0 && fits < bytes && (static_cast<unsigned char>(utf8[fits]) & 0xC0) == 0x80)
            --fits;
        std::string part(static_cast<std::size_t>(bytes) + 1, 'Z');
        ASSERT_EQ(CMarkup::UTF16To8(&part[0], text.c_str(), room), fits);
        const std::string want = utf8.substr(0, fits) + std::string(fits < room ? 1 : 0, '\0');
        ASSERT_EQ(part.substr(0, want.size()), want);
        ASSERT_EQ(CMarkup::UTF8To16(nullptr, utf8.data(), bytes), static_cast<int>(text.size()));
        std::u16string back(text.size(), u'\0');
        ASSERT_EQ(CMarkup::UTF8To16(&back[0], utf8.data(), bytes), bytes);
        ASSERT_EQ(back, text);
    }
}

namespace {

using platform::Fault;
using platform::FaultScript;
using platform::SysOp;

long long g_fakeSize = 0;

// The status entry with the file's size replaced, for files larger than the test can write.
bool statusWithFakeSize(platform::FileHandle file, platform::FileStatus& out) {
    const bool ok = platform::systemCalls().status(file, out);
    out.size = g_fakeSize;
    return ok;
}

}  // namespace

TEST(XmlFiles, LoadsAndSavesUtf8OrKeepsTheDocumentAndReportsWhatHappened) {
    nxtest::TempDir dir("xmlfiles");
    const std::u16string path = dir.file("doc.xml"), missing = dir.file("no/such/x.xml");
    // Rows: file bytes (null: unreadable, the document is kept), result, document, report.
    const std::tuple<const char*, bool, const char16_t*, std::string> cases[] = {
        {"<r a=\"\xE4\xB8\xAD\">\xF0\x9F\x98\x80</r>", true, u"<r a=\"\u4e2d\">\U0001F600</r>",
         "19 bytes to 15 wide chars"},
        // The byte-order mark is kept as a character.
        {"\xEF\xBB\xBF<a>", false, u"\xFEFF<a>",
         "6 bytes to 4 wide chars, Element 'a' at offset 1 not ended"},
        {nullptr, false, u"<keep/>", std::strerror(ENOENT)},
    };
    for (const auto& [bytes, ok, text, report] : cases) {
        SCOPED_TRACE(report);
        if (bytes)
            std::ofstream(dir.path() / "doc.xml", std::ios::binary) << bytes;
        CMarkup doc(MCD_CSTR(u"<keep/>"));
        EXPECT_EQ(doc.Load(bytes ? path : missing), ok);
        EXPECT_EQ(doc.GetDoc(), text);
        EXPECT_EQ(narrow(doc.GetError()), report);
        EXPECT_EQ(doc.IsWellFormed(), ok || !bytes);
    }
    CMarkup doc(MCD_CSTR(u"<r>\u00e9\U0001F600</r>")), empty;
    EXPECT_FALSE(empty.Load(u""));
    EXPECT_FALSE(empty.Save(missing));
    EXPECT_EQ(narrow(empty.GetError()), std::strerror(ENOENT));
    // Saved without a byte-order mark.
    ASSERT_TRUE(doc.Save(path));
    EXPECT_EQ(narrow(doc.GetError()), "10 wide chars to 13 bytes");
    EXPECT_EQ(nxtest::readFileBytes(dir.path() / "doc.xml"), "<r>\xC3\xA9\xF0\x9F\x98\x80</r>");
    ASSERT_TRUE(empty.Save(path));
    EXPECT_EQ(narrow(empty.GetError()), "0 wide chars to 0 bytes");
    EXPECT_EQ(nxtest::readFileBytes(dir.path() / "doc.xml"), "");
    // The static forms hand the document flags back unchanged; a zero byte ends the text.
    std::u16string text = u"<a/>", back = u"old", report;
    int flags = 0x55;
    ASSERT_TRUE(CMarkup::WriteTextFile(path, text, &report, &flags));
    ASSERT_TRUE(CMarkup::ReadTextFile(path, back, &report, &flags));
    EXPECT_EQ(back, u"<a/>");
    EXPECT_EQ(flags, 0x55);
    std::ofstream(dir.path() / "doc.xml", std::ios::binary) << std::string("<a/>\0<b/>", 9);
    ASSERT_TRUE(CMarkup::ReadTextFile(path, back, &report));
    EXPECT_EQ(back, u"<a/>");
    EXPECT_EQ(narrow(report), "9 bytes to 4 wide chars");
    EXPECT_TRUE(CMarkup::ReadTextFile(path, back));  // no report wanted
}

// Every failure leaves the old file and the old document.
TEST(XmlFiles, AFailedSaveLeavesTheOldFileWhole) {
    nxtest::TempDir dir("xmlsave");
    const std::u16string path = dir.file("doc.xml");
    const std::string oldBytes = "<old>kept</old>", newBytes = "<new>\xC3\xA9</new>";
    // Rows: the faults, whether Save succeeds (then the file holds the new bytes).
    const std::pair<std::vector<FaultScript>, bool> rows[] = {
        {{{SysOp::Write, Fault::NoSpace}}, false},
        {{{SysOp::Write, Fault::IoError, 1, 0}}, false},
        {{{SysOp::Write, Fault::Short, 1, 0, 3}}, true},  // short writes are continued
        {{{SysOp::Write, Fault::Interrupted, 1, 2}, {SysOp::Open, Fault::Interrupted}}, true},
        {{{SysOp::Flush, Fault::IoError}}, false},
        {{{SysOp::Close, Fault::IoError, 2}}, false},  // the first close ends the old file's probe
        {{{SysOp::Rename, Fault::AccessDenied}}, false},
        {{{SysOp::Allocate, Fault::NoMemory}}, false},
        {{{SysOp::Status, Fault::NotRegular}}, false},
        // The folder takes no new file: the old file is rewritten in place, and cut to size.
        {{{SysOp::Open, Fault::AccessDenied, 2}}, true},
        {{{SysOp::Open, Fault::AccessDenied, 2}, {SysOp::Resize, Fault::IoError}}, false},
    };
    for (const auto& [faults, saved] : rows) {
        SCOPED_TRACE(platform::sysOpName(faults[0].op));
        std::ofstream(dir.path() / "doc.xml", std::ios::binary) << oldBytes;
        CMarkup doc(MCD_CSTR(u"<new>\u00e9</new>"));
        bool ok;
        {
            platform::ScopedFault fault(faults.data(), faults.data() + faults.size());
            ok = doc.Save(path);
            EXPECT_GT(platform::faultsFired(), 0u);
        }
        EXPECT_EQ(ok, saved) << narrow(doc.GetError());
        if (faults.back().op != SysOp::Resize) {  // a failed in-place rewrite is cut short
            EXPECT_EQ(nxtest::readFileBytes(dir.path() / "doc.xml"), saved ? newBytes : oldBytes);
        }
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1)
            << "a temporary file was left behind";
        EXPECT_TRUE(saved || !doc.GetError().empty());
    }
}

TEST(XmlFiles, ALoadThatCannotReadKeepsTheDocumentAndSaysWhy) {
    nxtest::TempDir dir("xmlload");
    const std::u16string path = dir.file("doc.xml");
    // Rows: the faults, the file size the status reports (0: the real one), the message
    // (empty: the load succeeds).
    const auto limit = std::min<unsigned long long>(std::u16string().max_size() - 1, 0x7FFFFFFF);
    const std::string over = " bytes is over the limit of " + std::to_string(limit) + " bytes";
    const std::tuple<std::vector<FaultScript>, long long, std::string> rows[] = {
        {{{SysOp::Status, Fault::NotRegular}}, 0, "Not a regular file"},
        {{{SysOp::Open, Fault::AccessDenied}}, 0, std::strerror(EACCES)},
        {{{SysOp::Status, Fault::IoError}}, 0, std::strerror(EIO)},
        {{{SysOp::Read, Fault::IoError}}, 0, std::strerror(EIO)},
        {{{SysOp::Allocate, Fault::NoMemory}}, 0, std::strerror(ENOMEM)},
        {{{SysOp::Read, Fault::Short, 1, 0, 1}, {SysOp::Open, Fault::Interrupted}}, 0, ""},
        {{{SysOp::Read, Fault::Interrupted, 1, 3}}, 0, ""},
        {{}, 0, ""},
        // Sizes the document cannot hold: 2 GiB, and 4 GiB + 7 (which an int would cut to 7).
        {{}, 0x80000000LL, "File of 2147483648" + over},
        {{}, 0x100000007LL, "File of 4294967303" + over},
    };
    // A small file is read; a large one is mapped, and read when it cannot be.
    for (const std::size_t padding : {0, 64 * 1024}) {
        const std::string bytes = "<new/>" + std::string(padding, ' ');
        std::ofstream(dir.path() / "doc.xml", std::ios::binary) << bytes;
        for (auto [faults, size, message] : rows) {
            SCOPED_TRACE(message + " padding " + std::to_string(padding));
            const SysOp first = faults.empty() ? SysOp::MapView : faults[0].op;
            if (padding && (first == SysOp::Read || first == SysOp::Allocate))
                faults.push_back({SysOp::MapView, Fault::NoMemory, 1, 0});
            CMarkup doc(MCD_CSTR(u"<keep/>"));
            bool ok;
            {
                platform::ScopedFault fault(faults.data(), faults.data() + faults.size());
                g_fakeSize = size;
                if (size)
                    platform::sys().status = statusWithFakeSize;
                ok = doc.Load(path);
                EXPECT_GE(platform::faultsFired(), faults.size());  // the scripted faults were reached
            }
            EXPECT_EQ(ok, message.empty());
            EXPECT_EQ(narrow(doc.GetDoc()), message.empty() ? bytes : "<keep/>");
            if (!message.empty()) {
                EXPECT_EQ(narrow(doc.GetError()), message);
            }
        }
    }
    // A folder, and a device that never ends, are refused without reading.
    CMarkup doc(MCD_CSTR(u"<keep/>"));
    EXPECT_FALSE(doc.Load(dir.file(".")));
#ifndef _WIN32
    EXPECT_EQ(narrow(doc.GetError()), "Not a regular file");
    EXPECT_FALSE(doc.Load(u"/dev/zero"));
    EXPECT_EQ(narrow(doc.GetError()), "Not a regular file");
#endif
    EXPECT_EQ(narrow(doc.GetDoc()), "<keep/>");
}

TEST(XmlMemory, RunningOutOfMemoryFailsTheOperationAndKeepsTheDocument) {
    std::u16string big = u"<r>";
    for (int i = 0; i < 3000; ++i)
        big += u"<a/>";
    big += u"</r>";
    // Every allocation of the index fails in turn, until parsing needs none that fails.
    CMarkup doc(MCD_CSTR(u"<old/>"));
    for (unsigned nth = 1;; ++nth) {
        bool ok;
        unsigned fired;
        {
            platform::ScopedFault fault({SysOp::Allocate, Fault::NoMemory, nth});
            ok = doc.SetDoc(big);
            fired = platform::faultsFired();
        }
        if (!fired) {
            EXPECT_TRUE(ok);
            break;
        }
        ASSERT_FALSE(ok) << nth;
        EXPECT_EQ(narrow(doc.GetDoc()), "<old/>");
        EXPECT_EQ(narrow(doc.GetError()), std::strerror(ENOMEM));
        EXPECT_TRUE(doc.FindElem(u"old"));
        doc.ResetPos();
    }
    EXPECT_EQ(doc.GetDoc(), big);

    // Edits: once the index is full, adding fails and changes nothing; later edits work.
    CMarkup edit(MCD_CSTR(u"<r/>"));
    ASSERT_TRUE(edit.FindElem());
    int added = 0;
    {
        platform::ScopedFault fault({SysOp::Allocate, Fault::NoMemory, 1, 0});
        for (;; ++added) {
            const std::u16string before = edit.GetDoc();
            const bool sub = added % 2 != 0;
            if (sub ? edit.AddChildSubDoc(u"<s><t/></s>") : edit.AddChildElem(u"c", u"x"))
                continue;
            EXPECT_EQ(edit.GetDoc(), before);
            EXPECT_EQ(narrow(edit.GetError()), std::strerror(ENOMEM));
            break;
        }
    }
    ASSERT_LT(added, 100);
    ASSERT_TRUE(edit.AddChildElem(u"last"));
    CMarkup reread(MCD_CSTR(edit.GetDoc()));
    EXPECT_TRUE(reread.IsWellFormed());
    int children = 0;
    for (edit.ResetChildPos(); edit.FindChildElem();)
        ++children;
    EXPECT_EQ(children, added + 1);
}
