// Executable names and folders, the per-user folder tree, command-line switches, the user
// configuration file, and the file helpers (existence, free space, whole reads, new bitmaps).
#include "pubfunc/pubfunc.h"
#include "support/child_process.h"
#include "support/temp_dir.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

namespace fs = std::filesystem;

const bool kPosix = fs::path::preferred_separator == '/';

// Whether `s` ends in `tail`, a path written with slashes for the platform's separator.
bool endsWith(const std::u16string& s, const char* tail) {
    const std::u16string t = fs::path(tail).make_preferred().u16string();
    return s.size() >= t.size() && s.compare(s.size() - t.size(), t.size(), t) == 0;
}

// Points the POSIX special folders into a scratch folder for the test's lifetime (Windows
// ignores the variables and uses the real folders of the Wine prefix or the user).
class UserFolders : public ::testing::Test {
protected:
    nxtest::TempDir dir{"pubfunc-folders"};
    void SetUp() override { point((dir.path() / "config").string(), (dir.path() / "docs").string()); }
    void TearDown() override { point("", ""); }
    static void point(const std::string& config, const std::string& docs) {
        nxtest::setEnv("XDG_CONFIG_HOME", config);
        nxtest::setEnv("XDG_DOCUMENTS_DIR", docs);
    }
};

TEST(ExeNames, OnlyTheLastDotStartsTheExtensionAndFoldersHoldTheModules) {
    // This program is built as "pubfunc.paths.tests" (".exe" added on Windows).
    const std::u16string name = pubfunc::getExeName();
    EXPECT_EQ(kPosix ? u"pubfunc.paths.tests" : u"pubfunc.paths.tests.exe", name);
    EXPECT_EQ(kPosix ? u"pubfunc.paths" : u"pubfunc.paths.tests", pubfunc::getExeNameWithoutExt());
    const std::u16string exeDir = pubfunc::getExePath(pubfunc::moduleExe);
    EXPECT_TRUE(fs::exists(fs::path(exeDir) / fs::path(name)));
    EXPECT_EQ(exeDir, pubfunc::getExePath(static_cast<pubfunc::moduleType>(7)));
    EXPECT_FALSE(endsWith(exeDir, "/"));
    const fs::path selfDir = pubfunc::getExePath(pubfunc::moduleSelf);
    EXPECT_TRUE(fs::exists(selfDir / (kPosix ? "libnxutil.so" : "nxutil.dll"))) << selfDir.string();
}

TEST_F(UserFolders, TreeIsBuiltUnderApplicationDataAndFoldersAreCreatedOnTheWay) {
    const std::u16string product = pubfunc::getNxAppDataPath();
    ASSERT_TRUE(endsWith(product, "/talven/qx"));
    if (kPosix) {
        EXPECT_EQ((dir.path() / "config" / "talven" / "qx").u16string(), product);
        EXPECT_TRUE(fs::is_directory(dir.path() / "config"));  // A itself is created
    }
    const fs::path client = fs::path(product) / "business" / "lumacast";
    const struct {
        std::u16string got;
        fs::path want;
        bool folder;  // a folder is created; for a file only its folder is
    } cases[] = {
        {pubfunc::getUserConfigSavePath(), client, true},
        {pubfunc::getUserConfigSavePathFile(), client / "user.ini", false},
        {pubfunc::getUIConfigureFileName(), client / "kobaingame.cfg", false},
        {pubfunc::getMainConfigureFileName(), client / "main.ini", false},
        {pubfunc::getCacheDirPath(), client / "cache", true},
        {pubfunc::getLogFileDir(u"grabber"), fs::path(product) / "log" / "grab_engine" / "grabber.log", false},
    };
    for (const auto& c : cases) {
        const fs::path p(c.got);
        EXPECT_EQ(c.want.u16string(), c.got);
        EXPECT_TRUE(fs::is_directory(c.folder ? p : p.parent_path())) << p.string();
        EXPECT_TRUE(c.folder || !kPosix || !fs::exists(p)) << p.string();  // Windows: real profile
    }
    std::u16string folder = u"unchanged";
    pubfunc::getDefaultVideoRecordSaveFolder(folder);
    EXPECT_TRUE(endsWith(folder, "/My QX/Game Record"));
    EXPECT_TRUE(fs::is_directory(fs::path(folder)));
    EXPECT_TRUE(!kPosix || folder == (dir.path() / "docs" / "My QX" / "Game Record").u16string());
}

TEST(CommandLine, SwitchValuesRunToTheNextQuote) {
    const struct { std::u16string cmd, qx, engine; } cases[] = {
        {u"C:\\QX\\lumacast.exe -qxpt \"D:\\Games\\QX\" -engine \"D:\\grab\" -v", u"D:\\Games\\QX",
         u"D:\\grab"},
        {u"x -qxpt \"/opt/qx tail", u"/opt/qx tail", u""},  // no closing quote: to the end
        {u"-QXPT \"a\" -engine \"\"", u"", u""},             // case-sensitive; an empty value
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.qx, pubfunc::getQXPathFromCmdLine(c.cmd)) << nxtest::narrow(c.cmd);
        EXPECT_EQ(c.engine, pubfunc::getGrabEnginePathFromCmdLine(c.cmd)) << nxtest::narrow(c.cmd);
    }
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
    pubfunc::setUserConfigString(u"VIDEO", u"codec", u"h264");
    EXPECT_EQ(u"60", get(u"Video", u"FPS", u"x"));  // any case
    // Long values and defaults are cut to 1023 units.
    const std::u16string big(2000, u'v');
    pubfunc::setUserConfigString(u"video", u"big", big);
    EXPECT_EQ(big.substr(0, 1023), get(u"video", u"big"));
    EXPECT_EQ(big.substr(0, 1023), get(u"none", u"none", big));
    // Someone edits the file by hand: adds a comment and a key with blanks around its value.
    std::ofstream(ini, std::ios::app | std::ios::binary) << "; added by hand\n[manual]\nkey = hand made \n";
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

TEST(Files, ExistenceFreeSpaceWholeFileReadsAndBitmaps) {
    nxtest::TempDir dir("pubfunc-files");
    const fs::path empty = dir.path() / "empty";
    const std::u16string missing = (dir.path() / "missing").u16string();
    std::ofstream(empty, std::ios::binary).flush();
    EXPECT_TRUE(pubfunc::isFileExist(empty.u16string()));
    EXPECT_TRUE(pubfunc::isFileExist(dir.path().u16string()));  // folders count
    EXPECT_FALSE(pubfunc::isFileExist(missing));
    EXPECT_FALSE(pubfunc::isFileExist(u""));
    EXPECT_GT(pubfunc::getDiskFreeSpace(dir.path().u16string()), 0);
    EXPECT_EQ(0, pubfunc::getDiskFreeSpace(u"\x01:\\nowhere"));
    EXPECT_EQ(0, pubfunc::getDiskFreeSpace(u""));
    // A failed read and an empty file leave the vector as it was.
    const std::vector<char> keep = {'k', 'e', 'e', 'p'};
    std::vector<char> bytes = keep;
    EXPECT_FALSE(pubfunc::loadBinaryFile(missing, bytes));
    EXPECT_FALSE(pubfunc::loadBinaryFile(u"", bytes));
    EXPECT_TRUE(pubfunc::loadBinaryFile(empty.u16string(), bytes));
    EXPECT_EQ(keep, bytes);
    // A new bitmap: "BM", file size (pixel bytes + 54), both reserved words, data offset, info
    // size, width, height negated (top row first), one plane, the bit count, zeros.
    const std::string pixels = "\x01\x02\x03\x04\x05\x06";
    const std::string header("BM<\0\0\0" "\0\0\0\0" "6\0\0\0" "(\0\0\0"            // 60, 0, 54, 40
                             "\x80\x02\0\0" " \xFE\xFF\xFF" "\x01\0\x18\0", 30);  // 640, -480, 1, 24
    ASSERT_TRUE(pubfunc::saveAsBMP(pixels.data(), 6, 640, 480, 24, dir.file("frame.bmp").c_str()));
    EXPECT_EQ(header + std::string(24, '\0') + pixels,
              nxtest::readFileBytes(dir.path() / "frame.bmp"));
    // A file that cannot be created.
    const std::u16string bad = (dir.path() / "no" / "such" / "x.bmp").u16string();
    EXPECT_FALSE(pubfunc::saveAsBMP(pixels.data(), 6, 2, 1, 24, bad.c_str()));
    EXPECT_FALSE(pubfunc::saveAsBMP(pixels.data(), 6, 2, 1, 24, nullptr));
}

}  // namespace
