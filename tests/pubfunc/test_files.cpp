// File existence, free space, whole-file reads and bitmap headers.
#include "pubfunc/pubfunc.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>

namespace {

namespace fs = std::filesystem;

std::uint32_t le32(const std::string& b, std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(b[at])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + 3])) << 24;
}

std::uint32_t le16(const std::string& b, std::size_t at) { return le32(b + "\0\0", at) & 0xFFFF; }

TEST(Files, ExistenceAndFreeSpace) {
    nxtest::TempDir dir("pubfunc-exist");
    const fs::path file = dir.path() / "f.bin";
    { std::ofstream(file) << "x"; }
    EXPECT_TRUE(pubfunc::isFileExist(file.u16string()));
    EXPECT_TRUE(pubfunc::isFileExist(dir.path().u16string()));  // folders count
    EXPECT_FALSE(pubfunc::isFileExist((dir.path() / "missing").u16string()));
    EXPECT_FALSE(pubfunc::isFileExist(u""));

    EXPECT_GT(pubfunc::getDiskFreeSpace(dir.path().u16string()), 0);
    EXPECT_EQ(0, pubfunc::getDiskFreeSpace(u"\x01:\\nowhere"));
    EXPECT_EQ(0, pubfunc::getDiskFreeSpace(u""));
}

TEST(Files, LoadBinaryFileReadsWholeFilesAndLeavesTheVectorOnFailure) {
    nxtest::TempDir dir("pubfunc-load");
    std::vector<char> bytes = {'k', 'e', 'e', 'p'};
    EXPECT_FALSE(pubfunc::loadBinaryFile((dir.path() / "missing").u16string(), bytes));
    EXPECT_EQ(4u, bytes.size());

    const fs::path empty = dir.path() / "empty";
    { std::ofstream(empty, std::ios::binary); }
    EXPECT_TRUE(pubfunc::loadBinaryFile(empty.u16string(), bytes));
    EXPECT_EQ(std::vector<char>({'k', 'e', 'e', 'p'}), bytes);

    std::string content(70000, '\0');
    for (std::size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i * 7);
    const fs::path data = dir.path() / "data.bin";
    { std::ofstream(data, std::ios::binary) << content; }
    EXPECT_TRUE(pubfunc::loadBinaryFile(data.u16string(), bytes));
    EXPECT_EQ(content, std::string(bytes.begin(), bytes.end()));

    EXPECT_FALSE(pubfunc::loadBinaryFile(u"", bytes));
}

TEST(Files, SaveAsBmpWritesTheHeadersAndKeepsALongerFilesTail) {
    nxtest::TempDir dir("pubfunc-bmp");
    const fs::path bmp = dir.path() / "frame.bmp";
    const std::string pixels = "\x01\x02\x03\x04\x05\x06";
    ASSERT_TRUE(pubfunc::saveAsBMP(pixels.data(), 6, 640, 480, 24, bmp.u16string().c_str()));
    const std::string b = nxtest::readFileBytes(bmp);
    ASSERT_EQ(60u, b.size());
    EXPECT_EQ("BM", b.substr(0, 2));
    EXPECT_EQ(60u, le32(b, 2));        // pixel bytes + 54
    EXPECT_EQ(0u, le32(b, 6));         // both reserved words
    EXPECT_EQ(54u, le32(b, 10));
    EXPECT_EQ(40u, le32(b, 14));
    EXPECT_EQ(640u, le32(b, 18));
    EXPECT_EQ(static_cast<std::uint32_t>(-480), le32(b, 22));
    EXPECT_EQ(1u, le16(b, 26));
    EXPECT_EQ(24u, le16(b, 28));
    for (std::size_t at = 30; at < 54; at += 4)
        EXPECT_EQ(0u, le32(b, at)) << "offset " << at;
    EXPECT_EQ(pixels, b.substr(54));

    // Over a longer file: new headers and data from offset 0, the old tail stays.
    const fs::path old = dir.path() / "old.bmp";
    { std::ofstream(old, std::ios::binary) << std::string(100, 'Z'); }
    ASSERT_TRUE(pubfunc::saveAsBMP("\xAA\xBB", 2, 1, 1, 0x12340010, old.u16string().c_str()));
    const std::string o = nxtest::readFileBytes(old);
    ASSERT_EQ(100u, o.size());
    EXPECT_EQ(56u, le32(o, 2));
    EXPECT_EQ(static_cast<std::uint32_t>(-1), le32(o, 22));
    EXPECT_EQ(0x10u, le16(o, 28));  // the low 16 bits of the bit count
    EXPECT_EQ("\xAA\xBB", o.substr(54, 2));
    EXPECT_EQ(std::string(44, 'Z'), o.substr(56));

    // A file that cannot be created.
    EXPECT_FALSE(pubfunc::saveAsBMP(pixels.data(), 6, 2, 1, 24,
                                    (dir.path() / "no" / "such" / "x.bmp").u16string().c_str()));
    EXPECT_FALSE(pubfunc::saveAsBMP(pixels.data(), 6, 2, 1, 24, nullptr));
}

}  // namespace
