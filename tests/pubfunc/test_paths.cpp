// Executable names and folders, the per-user folder tree, command-line switches, the user
// configuration file, and the file helpers (existence, free space, whole reads, bitmaps).
#include "pubfunc/pubfunc.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>

namespace {

namespace fs = std::filesystem;

const char16_t kSep = fs::path::preferred_separator;
const bool kPosix = kSep == u'/';

std::u16string sep(std::initializer_list<const char16_t*> parts) {
    std::u16string out;
    for (const char16_t* p : parts)
        out += kSep + std::u16string(p);
    return out;
}

bool endsWith(const std::u16string& s, const std::u16string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Points the POSIX special folders into a scratch folder for the test's lifetime (Windows
// ignores the variables and uses the real folders of the Wine prefix or the user).
class UserFolders : public ::testing::Test {
protected:
    nxtest::TempDir dir{"pubfunc-folders"};
    void SetUp() override {
        nxtest::setEnv("XDG_CONFIG_HOME", (dir.path() / "config").string());
        nxtest::setEnv("XDG_DOCUMENTS_DIR", (dir.path() / "docs").string());
    }
    void TearDown() override {
        nxtest::setEnv("XDG_CONFIG_HOME", "");
        nxtest::setEnv("XDG_DOCUMENTS_DIR", "");
    }
};

TEST(ExeNames, OnlyTheLastDotStartsTheExtensionAndFoldersHoldTheModules) {
    // This program is built as "pubfunc.paths.tests" (".exe" added on Windows).
    const std::u16string name = pubfunc::getExeName();
    const bool exe = endsWith(name, u".exe");
    EXPECT_EQ(exe ? u"pubfunc.paths.tests.exe" : u"pubfunc.paths.tests", name);
    EXPECT_EQ(exe ? u"pubfunc.paths.tests" : u"pubfunc.paths", pubfunc::getExeNameWithoutExt());

    const std::u16string exeDir = pubfunc::getExePath(pubfunc::moduleExe);
    EXPECT_TRUE(fs::exists(fs::path(exeDir) / fs::path(name)));
    EXPECT_EQ(exeDir, pubfunc::getExePath(static_cast<pubfunc::moduleType>(7)));
    EXPECT_FALSE(endsWith(exeDir, std::u16string(1, kSep)));
    const fs::path selfDir = pubfunc::getExePath(pubfunc::moduleSelf);
    bool found = false;
    for (const auto& e : fs::directory_iterator(selfDir)) {
        const std::string n = e.path().filename().string();
        found |= n.rfind("libnxutil.so", 0) == 0 || n == "nxutil.dll";
    }
    EXPECT_TRUE(found) << selfDir.string();
}

TEST_F(UserFolders, TreeIsBuiltUnderApplicationDataAndFoldersAreCreatedOnTheWay) {
    const std::u16string product = pubfunc::getNxAppDataPath();
    ASSERT_TRUE(endsWith(product, sep({u"talven", u"qx"})));
    if (kPosix) {
        EXPECT_EQ((dir.path() / "config" / "talven" / "qx").u16string(), product);
        EXPECT_TRUE(fs::is_directory(dir.path() / "config"));  // A itself is created
    }
    const std::u16string client = product + sep({u"business", u"lumacast"});
    const std::u16string log = product + sep({u"log", u"grab_engine", u"grabber.log"});
    const struct {
        std::u16string got, want;
        bool folder;  // a folder is created; for a file only its folder is
    } cases[] = {
        {pubfunc::getUserConfigSavePath(), client, true},
        {pubfunc::getUserConfigSavePathFile(), client + sep({u"user.ini"}), false},
        {pubfunc::getUIConfigureFileName(), client + sep({u"kobaingame.cfg"}), false},
        {pubfunc::getMainConfigureFileName(), client + sep({u"main.ini"}), false},
        {pubfunc::getCacheDirPath(), client + sep({u"cache"}), true},
        {pubfunc::getLogFileDir(u"grabber"), log, false},
    };
    for (const auto& c : cases) {
        const fs::path p(c.got);
        EXPECT_EQ(c.want, c.got);
        EXPECT_TRUE(fs::is_directory(c.folder ? p : p.parent_path())) << p.string();
        EXPECT_TRUE(c.folder || !kPosix || !fs::exists(p)) << p.string();  // Windows: real profile
    }
    std::u16string folder = u"unchanged";
    pubfunc::getDefaultVideoRecordSaveFolder(folder);
    EXPECT_TRUE(endsWith(folder, sep({u"My QX", u"Game Record"})));
    EXPECT_TRUE(fs::is_directory(fs::path(folder)));
    EXPECT_TRUE(!kPosix || folder == (dir.path() / "docs" / "My QX" / "Game Record").u16string());
}

TEST(CommandLine, SwitchValuesRunToTheNextQuote) {
    const std::u16string cmd =
        u"C:\\QX\\lumacast.exe -qxpt \"D:\\Games\\QX\" -engine \"D:\\Engine\\grab\" -v";
    EXPECT_EQ(u"D:\\Games\\QX", pubfunc::getQXPathFromCmdLine(cmd));
    EXPECT_EQ(u"D:\\Engine\\grab", pubfunc::getGrabEnginePathFromCmdLine(cmd));
    // No closing quote: to the end. First occurrence wins; the search is case-sensitive.
    EXPECT_EQ(u"/opt/qx tail", pubfunc::getQXPathFromCmdLine(u"x -qxpt \"/opt/qx tail"));
    EXPECT_EQ(u"a", pubfunc::getQXPathFromCmdLine(u"-qxpt \"a\" -qxpt \"b\""));
    EXPECT_EQ(u"", pubfunc::getQXPathFromCmdLine(u"-QXPT \"a\""));
    EXPECT_EQ(u"", pubfunc::getQXPathFromCmdLine(u"-qxpt a"));  // blank and quote required
    EXPECT_EQ(u"", pubfunc::getGrabEnginePathFromCmdLine(u"-engine \"\""));
}

TEST_F(UserFolders, ConfigurationRoundTripsAndSurvivesHandEdits) {
    auto get = [](const char16_t* s, const char16_t* k, const std::u16string& def = u"") {
        return pubfunc::getUserConfigString(s, k, def);
    };
    const fs::path ini = pubfunc::getUserConfigSavePathFile();
    std::error_code ec;
    fs::remove(ini, ec);  // on Windows the file lives in the real profile: start from none
    EXPECT_EQ(u"fallback", get(u"video", u"fps", u"fallback"));
    pubfunc::setUserConfigString(u"video", u"fps", u"60");
    pubfunc::setUserConfigString(u"video", u"codec", u"h264");
    pubfunc::setUserConfigString(u"audio", u"device", u"");
    EXPECT_EQ(u"60", get(u"VIDEO", u"FPS", u"x"));   // any case
    EXPECT_EQ(u"", get(u"audio", u"device", u"x"));  // empty entry
    EXPECT_EQ(u"x", get(u"audio", u"volume", u"x"));
    // Long values and defaults are cut to 1023 units.
    const std::u16string big(2000, u'v');
    pubfunc::setUserConfigString(u"video", u"big", big);
    EXPECT_EQ(big.substr(0, 1023), get(u"video", u"big"));
    EXPECT_EQ(big.substr(0, 1023), get(u"none", u"none", big));

    // Someone edits the file by hand: adds a comment and a key with blanks around its value.
    std::ofstream(ini, std::ios::app | std::ios::binary)
        << "; added by hand\n[manual]\nkey = hand made \n";
    EXPECT_EQ(u"hand made", get(u"manual", u"key"));
    pubfunc::setUserConfigString(u"video", u"fps", u"30");
    // Windows keeps an ANSI file ANSI, so only the POSIX store round-trips every character.
    const std::u16string other = kPosix ? u"\u00FC\u4E2D" : u"\u00FC";
    pubfunc::setUserConfigString(u"manual", u"other", other);
    EXPECT_EQ(u"30", get(u"video", u"fps"));
    EXPECT_EQ(u"h264", get(u"video", u"codec"));
    EXPECT_EQ(u"hand made", get(u"manual", u"key"));
    EXPECT_EQ(other, get(u"manual", u"other"));
    EXPECT_TRUE(!kPosix || nxtest::readFileBytes(ini).find("; added by hand\n") != std::string::npos);
}

TEST(Files, ExistenceFreeSpaceAndWholeFileReads) {
    nxtest::TempDir dir("pubfunc-files");
    const fs::path empty = dir.path() / "empty", data = dir.path() / "data.bin";
    std::ofstream(empty, std::ios::binary).flush();
    EXPECT_TRUE(pubfunc::isFileExist(empty.u16string()));
    EXPECT_TRUE(pubfunc::isFileExist(dir.path().u16string()));  // folders count
    EXPECT_FALSE(pubfunc::isFileExist((dir.path() / "missing").u16string()));
    EXPECT_FALSE(pubfunc::isFileExist(u""));
    EXPECT_GT(pubfunc::getDiskFreeSpace(dir.path().u16string()), 0);
    EXPECT_EQ(0, pubfunc::getDiskFreeSpace(u"\x01:\\nowhere"));
    EXPECT_EQ(0, pubfunc::getDiskFreeSpace(u""));

    // A failed read and an empty file leave the vector as it was.
    const std::vector<char> keep = {'k', 'e', 'e', 'p'};
    std::vector<char> bytes = keep;
    EXPECT_FALSE(pubfunc::loadBinaryFile((dir.path() / "missing").u16string(), bytes));
    EXPECT_FALSE(pubfunc::loadBinaryFile(u"", bytes));
    EXPECT_TRUE(pubfunc::loadBinaryFile(empty.u16string(), bytes));
    EXPECT_EQ(keep, bytes);
    std::string content(70000, '\0');
    for (std::size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i * 7);
    std::ofstream(data, std::ios::binary) << content;
    EXPECT_TRUE(pubfunc::loadBinaryFile(data.u16string(), bytes));
    EXPECT_EQ(content, std::string(bytes.begin(), bytes.end()));
}

// `n` little-endian bytes of `v`.
std::string le(std::uint32_t v, int n = 4) {
    std::string s;
    for (int i = 0; i < n; ++i)
        s += static_cast<char>(v >> 8 * i);
    return s;
}

TEST(Files, SaveAsBmpWritesTheHeadersAndKeepsALongerFilesTail) {
    nxtest::TempDir dir("pubfunc-bmp");
    const fs::path bmp = dir.path() / "frame.bmp", old = dir.path() / "old.bmp";
    // "BM", file size (pixel bytes + 54), both reserved words, data offset, info size, width,
    // height negated (top row first), one plane, the low 16 bits of the bit count, zeros.
    auto header = [](std::uint32_t size, std::uint32_t w, std::uint32_t negH, std::uint32_t bits) {
        return "BM" + le(size) + le(0) + le(54) + le(40) + le(w) + le(negH) + le(1, 2) +
               le(bits, 2) + std::string(24, '\0');
    };
    const std::string pixels = "\x01\x02\x03\x04\x05\x06";
    ASSERT_TRUE(pubfunc::saveAsBMP(pixels.data(), 6, 640, 480, 24, bmp.u16string().c_str()));
    EXPECT_EQ(header(60, 640, static_cast<std::uint32_t>(-480), 24) + pixels,
              nxtest::readFileBytes(bmp));

    // Over a longer file: new headers and data from offset 0, the old tail stays.
    std::ofstream(old, std::ios::binary) << std::string(100, 'Z');
    ASSERT_TRUE(pubfunc::saveAsBMP("\xAA\xBB", 2, 1, 1, 0x12340010, old.u16string().c_str()));
    EXPECT_EQ(header(56, 1, 0xFFFFFFFFu, 0x10) + "\xAA\xBB" + std::string(44, 'Z'),
              nxtest::readFileBytes(old));

    // A file that cannot be created.
    const fs::path bad = dir.path() / "no" / "such" / "x.bmp";
    EXPECT_FALSE(pubfunc::saveAsBMP(pixels.data(), 6, 2, 1, 24, bad.u16string().c_str()));
    EXPECT_FALSE(pubfunc::saveAsBMP(pixels.data(), 6, 2, 1, 24, nullptr));
}

}  // namespace
