// Reading and writing documents as UTF-8 files, with the reports left in GetError().
#include "support/test_support.h"
#include "xml/xml.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

using nxtest::narrow;

namespace {

std::string tempPath(const char* name) {
    const char* dir = std::getenv("TMPDIR");
    std::string base = dir && *dir ? dir : "/tmp";
#ifdef _WIN32
    if (const char* t = std::getenv("TEMP"))
        base = t;
    return base + "\\nxutil_xml_" + name;
#else
    return base + "/nxutil_xml_" + name;
#endif
}

std::u16string widen(const std::string& s) {
    return std::u16string(s.begin(), s.end());
}

void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream f(path, std::ios::binary);
    f << bytes;
}

std::string readBytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

}  // namespace

TEST(XmlFiles, LoadsUtf8AndReportsSizes) {
    const std::string path = tempPath("load.xml");
    writeBytes(path, "<r a=\"\xE4\xB8\xAD\">\xF0\x9F\x98\x80</r>");
    CMarkup doc;
    ASSERT_TRUE(doc.Load(widen(path)));
    EXPECT_EQ(doc.GetDoc(), u"<r a=\"\u4e2d\">\U0001F600</r>");
    EXPECT_EQ(narrow(doc.GetError()), "19 bytes to 15 wide chars");
    std::remove(path.c_str());
}

TEST(XmlFiles, JoinsTheReadReportWithTheParseMessage) {
    const std::string path = tempPath("bad.xml");
    writeBytes(path, "\xEF\xBB\xBF<a>");
    CMarkup doc;
    EXPECT_FALSE(doc.Load(widen(path)));
    EXPECT_EQ(doc.GetDoc()[0], 0xFEFF);  // the byte-order mark is kept as a character
    EXPECT_EQ(narrow(doc.GetError()), "6 bytes to 4 wide chars, Element 'a' at offset 1 not ended");
    std::remove(path.c_str());
}

TEST(XmlFiles, KeepsTheDocumentWhenAFileCannotBeRead) {
    CMarkup doc(MCD_CSTR(u"<keep/>"));
    errno = 0;
    const std::string path = tempPath("no/such/dir/x.xml");
    EXPECT_FALSE(doc.Load(widen(path)));
    EXPECT_EQ(doc.GetDoc(), u"<keep/>");
    EXPECT_TRUE(doc.IsWellFormed());
    EXPECT_EQ(narrow(doc.GetError()), std::strerror(ENOENT));

    EXPECT_FALSE(doc.Save(widen(path)));
    EXPECT_EQ(narrow(doc.GetError()), std::strerror(ENOENT));
    EXPECT_FALSE(doc.Load(u""));
}

TEST(XmlFiles, SavesUtf8WithoutAByteOrderMark) {
    const std::string path = tempPath("save.xml");
    CMarkup doc(MCD_CSTR(u"<r>\u00e9\U0001F600</r>"));
    ASSERT_TRUE(doc.Save(widen(path)));
    EXPECT_EQ(narrow(doc.GetError()), "10 wide chars to 13 bytes");
    EXPECT_EQ(readBytes(path), "<r>\xC3\xA9\xF0\x9F\x98\x80</r>");

    CMarkup empty;
    ASSERT_TRUE(empty.Save(widen(path)));
    EXPECT_EQ(narrow(empty.GetError()), "0 wide chars to 0 bytes");
    EXPECT_EQ(readBytes(path), "");
    std::remove(path.c_str());
}

TEST(XmlFiles, StaticReadAndWriteHandFlagsBack) {
    const std::string path = tempPath("static.xml");
    std::u16string text = u"<a/>";
    int flags = 0x55;
    std::u16string report;
    ASSERT_TRUE(CMarkup::WriteTextFile(widen(path), text, &report, &flags));
    EXPECT_EQ(flags, 0x55);
    std::u16string back = u"old";
    ASSERT_TRUE(CMarkup::ReadTextFile(widen(path), back, &report, &flags));
    EXPECT_EQ(back, u"<a/>");
    EXPECT_EQ(flags, 0x55);
    EXPECT_TRUE(CMarkup::ReadTextFile(widen(path), back));
    // A zero byte ends the text.
    writeBytes(path, std::string("<a/>\0<b/>", 9));
    ASSERT_TRUE(CMarkup::ReadTextFile(widen(path), back, &report));
    EXPECT_EQ(back, u"<a/>");
    EXPECT_EQ(narrow(report), "9 bytes to 4 wide chars");
    std::remove(path.c_str());
}
