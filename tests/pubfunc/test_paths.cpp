// Executable names and folders, the per-user folder tree, command-line switches and the user
// configuration file.
#include "pubfunc/pubfunc.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

namespace fs = std::filesystem;

const char16_t kSep = fs::path::preferred_separator;

std::u16string sep(std::initializer_list<const char16_t*> parts) {
    std::u16string out;
    for (const char16_t* p : parts) {
        out += kSep;
        out += p;
    }
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
    bool posixFolders() const { return kSep == u'/'; }
};

TEST(ExeNames, OnlyTheLastDotStartsTheExtension) {
    const std::u16string name = pubfunc::getExeName();
    // This program is built as "pubfunc.paths.tests" (".exe" added on Windows).
    if (endsWith(name, u".exe")) {
        EXPECT_EQ(u"pubfunc.paths.tests.exe", name);
        EXPECT_EQ(u"pubfunc.paths.tests", pubfunc::getExeNameWithoutExt());
    } else {
        EXPECT_EQ(u"pubfunc.paths.tests", name);
        EXPECT_EQ(u"pubfunc.paths", pubfunc::getExeNameWithoutExt());
    }
}

TEST(ExeNames, ExePathNamesTheFolderOfTheProgramOrOfTheLibrary) {
    const std::u16string exeDir = pubfunc::getExePath(pubfunc::moduleExe);
    EXPECT_TRUE(fs::exists(fs::path(exeDir) / fs::path(pubfunc::getExeName())));
    EXPECT_EQ(exeDir, pubfunc::getExePath(static_cast<pubfunc::moduleType>(7)));
    EXPECT_FALSE(endsWith(exeDir, std::u16string(1, kSep)));

    const fs::path selfDir = pubfunc::getExePath(pubfunc::moduleSelf);
    bool found = false;
    for (const auto& e : fs::directory_iterator(selfDir)) {
        const std::string n = e.path().filename().string();
        found = found || n.rfind("libnxutil.so", 0) == 0 || n == "nxutil.dll";
    }
    EXPECT_TRUE(found) << selfDir.string();
}

TEST_F(UserFolders, TreeIsBuiltUnderApplicationDataAndCreatedOnTheWay) {
    const std::u16string product = pubfunc::getNxAppDataPath();
    ASSERT_TRUE(endsWith(product, sep({u"talven", u"qx"})));
    if (posixFolders()) {
        EXPECT_EQ((dir.path() / "config" / "talven" / "qx").u16string(), product);
        EXPECT_TRUE(fs::is_directory(dir.path() / "config"));  // A itself is created
    }
    const std::u16string client = pubfunc::getUserConfigSavePath();
    EXPECT_EQ(product + sep({u"business", u"lumacast"}), client);
    EXPECT_TRUE(fs::is_directory(fs::path(client)));
    EXPECT_EQ(client + sep({u"user.ini"}), pubfunc::getUserConfigSavePathFile());
    EXPECT_EQ(client + sep({u"kobaingame.cfg"}), pubfunc::getUIConfigureFileName());
    EXPECT_EQ(client + sep({u"main.ini"}), pubfunc::getMainConfigureFileName());
    if (posixFolders()) {  // the file itself is not created
        EXPECT_FALSE(fs::exists(fs::path(pubfunc::getMainConfigureFileName())));
    }

    const std::u16string cache = pubfunc::getCacheDirPath();
    EXPECT_EQ(client + sep({u"cache"}), cache);
    EXPECT_TRUE(fs::is_directory(fs::path(cache)));

    const std::u16string log = pubfunc::getLogFileDir(u"grabber");
    EXPECT_EQ(product + sep({u"log", u"grab_engine", u"grabber.log"}), log);
    EXPECT_TRUE(fs::is_directory(fs::path(log).parent_path()));
    EXPECT_FALSE(fs::exists(fs::path(log)));
}

TEST_F(UserFolders, VideoFolderIsCreatedUnderDocuments) {
    std::u16string folder = u"unchanged";
    pubfunc::getDefaultVideoRecordSaveFolder(folder);
    ASSERT_TRUE(endsWith(folder, sep({u"My QX", u"Game Record"})));
    EXPECT_TRUE(fs::is_directory(fs::path(folder)));
    if (posixFolders()) {
        EXPECT_EQ((dir.path() / "docs" / "My QX" / "Game Record").u16string(), folder);
    }
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
    EXPECT_EQ(u"", pubfunc::getGrabEnginePathFromCmdLine(u""));
    EXPECT_EQ(u"", pubfunc::getGrabEnginePathFromCmdLine(u"-engine \"\""));
}

TEST_F(UserFolders, ConfigurationRoundTripsAndSurvivesHandEdits) {
    // On Windows the file lives in the real profile: start from none.
    std::error_code ec;
    fs::remove(fs::path(pubfunc::getUserConfigSavePathFile()), ec);
    EXPECT_EQ(u"fallback", pubfunc::getUserConfigString(u"video", u"fps", u"fallback"));
    pubfunc::setUserConfigString(u"video", u"fps", u"60");
    pubfunc::setUserConfigString(u"video", u"codec", u"h264");
    pubfunc::setUserConfigString(u"audio", u"device", u"");
    EXPECT_EQ(u"60", pubfunc::getUserConfigString(u"video", u"fps", u"x"));
    EXPECT_EQ(u"60", pubfunc::getUserConfigString(u"VIDEO", u"FPS", u"x"));  // any case
    EXPECT_EQ(u"", pubfunc::getUserConfigString(u"audio", u"device", u"x"));   // empty entry
    EXPECT_EQ(u"x", pubfunc::getUserConfigString(u"audio", u"volume", u"x"));

    // Long values and defaults are cut to 1023 units.
    const std::u16string big(2000, u'v');
    pubfunc::setUserConfigString(u"video", u"big", big);
    EXPECT_EQ(big.substr(0, 1023), pubfunc::getUserConfigString(u"video", u"big", u""));
    EXPECT_EQ(big.substr(0, 1023), pubfunc::getUserConfigString(u"none", u"none", big));

    // Someone edits the file by hand: changes a value, adds a key and a comment.
    const fs::path ini = pubfunc::getUserConfigSavePathFile();
    {
        std::ofstream out(ini, std::ios::app | std::ios::binary);
        out << "; added by hand\n[manual]\nkey = hand made \n";
    }
    EXPECT_EQ(u"hand made", pubfunc::getUserConfigString(u"manual", u"key", u""));
    pubfunc::setUserConfigString(u"video", u"fps", u"30");
    // Windows keeps an ANSI file ANSI, so only the POSIX store round-trips every character.
    const std::u16string other = posixFolders() ? u"\u00FC\u4E2D" : u"\u00FC";
    pubfunc::setUserConfigString(u"manual", u"other", other);
    EXPECT_EQ(u"30", pubfunc::getUserConfigString(u"video", u"fps", u""));
    EXPECT_EQ(u"h264", pubfunc::getUserConfigString(u"video", u"codec", u""));
    EXPECT_EQ(u"hand made", pubfunc::getUserConfigString(u"manual", u"key", u""));
    EXPECT_EQ(other, pubfunc::getUserConfigString(u"manual", u"other", u""));
    if (posixFolders()) {
        const std::string text = nxtest::readFileBytes(ini);
        EXPECT_NE(std::string::npos, text.find("; added by hand\n"));
    }
}

}  // namespace
