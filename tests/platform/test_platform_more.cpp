// Platform services that the subsystems' suites reach only partly: file opening modes and
// their sharing, moves, deletes, mappings, free space, local time, tick count, the user's
// documents folder from the XDG user-dirs file, and the processor facts.
#include "platform/platform.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace platform;

std::string readAll(FileHandle f) {
    std::string out;
    char buf[64];
    long long n;
    while ((n = fileRead(f, buf, sizeof buf)) > 0)
        out.append(buf, static_cast<std::size_t>(n));
    return out;
}

void writeText(const std::u16string& path, const std::string& text) {
    const FileHandle f = fileOpen(path.c_str(), FileAccess::CreateTruncate);
    ASSERT_NE(f, kNoFile);
    EXPECT_EQ(fileWrite(f, text.data(), text.size()), static_cast<long long>(text.size()));
    fileClose(f);
}

TEST(PlatformFiles, OpeningModesKeepTruncateAppendAndExclude) {
    nxtest::TempDir dir("platform-files");
    const std::u16string path = dir.file("data.bin");

    EXPECT_EQ(fileOpen(path.c_str(), FileAccess::Read), kNoFile);
    EXPECT_EQ(lastError().code, 2) << "a missing file is error 2 on both platforms";
    EXPECT_FALSE(fileReadable(path.c_str()));

    writeText(path, "0123456789");
    EXPECT_TRUE(fileReadable(path.c_str()));

    // Exclusive creation keeps the old bytes, writes from the start and shuts others out.
    FileHandle ex = fileOpen(path.c_str(), FileAccess::CreateKeepExclusive);
    ASSERT_NE(ex, kNoFile);
    EXPECT_EQ(fileOpen(path.c_str(), FileAccess::CreateKeepExclusive), kNoFile);
    EXPECT_EQ(fileWrite(ex, "ab", 2), 2);
    EXPECT_EQ(fileSize(ex), 10);
    fileClose(ex);

    // Appending writes land at the end even after a seek.
    FileHandle ap = fileOpen(path.c_str(), FileAccess::Append);
    ASSERT_NE(ap, kNoFile);
    EXPECT_TRUE(fileSeek(ap, 0));
    EXPECT_EQ(fileWrite(ap, "Z", 1), 1);
    fileClose(ap);

    FileHandle rd = fileOpen(path.c_str(), FileAccess::Read);
    ASSERT_NE(rd, kNoFile);
    EXPECT_EQ(readAll(rd), "ab23456789Z");
    EXPECT_TRUE(fileSeek(rd, 9));
    EXPECT_EQ(readAll(rd), "9Z");
    EXPECT_EQ(fileWrite(rd, "x", 1), -1) << "a read-only handle refuses writes";
    fileClose(rd);
    fileClose(kNoFile);  // ignored

    FileHandle tr = fileOpen(path.c_str(), FileAccess::CreateTruncate);
    ASSERT_NE(tr, kNoFile);
    EXPECT_EQ(fileSize(tr), 0);
    fileClose(tr);
}

TEST(PlatformFiles, MovesDeletesAndFoldersReportFailures) {
    nxtest::TempDir dir("platform-moves");
    const std::u16string a = dir.file("a.txt");
    const std::u16string b = dir.file("b.txt");
    writeText(a, "first");
    writeText(b, "second");

    EXPECT_FALSE(moveFile(a.c_str(), b.c_str())) << "an existing target is not replaced";
    EXPECT_EQ(nxtest::readFileBytes(dir.path() / "b.txt"), "second");
    EXPECT_TRUE(deleteFile(b.c_str()));
    EXPECT_FALSE(deleteFile(b.c_str()));
    EXPECT_TRUE(moveFile(a.c_str(), b.c_str()));
    EXPECT_FALSE(pathExists(a.c_str()));
    EXPECT_EQ(nxtest::readFileBytes(dir.path() / "b.txt"), "first");

    const std::u16string nested = dir.file("x") + kPathSeparator + u"y" + kPathSeparator + u"z";
    EXPECT_TRUE(createDirectories(nested.c_str()));
    EXPECT_TRUE(createDirectories(nested.c_str())) << "an existing folder is no failure";
    EXPECT_TRUE(isDirectory(nested.c_str()));
    EXPECT_FALSE(isDirectory(b.c_str()));
    const std::u16string underFile = b + kPathSeparator + u"sub";
    EXPECT_FALSE(createDirectories(underFile.c_str())) << "a parent that is a file";
    EXPECT_FALSE(createDirectories(u""));

    EXPECT_GT(volumeFreeBytes(dir.file("").c_str()), 0);
}

TEST(PlatformFiles, MappingsHoldTheBytesAndRefuseEmptyOrMissingFiles) {
    nxtest::TempDir dir("platform-map");
    const std::u16string full = dir.file("full.bin");
    const std::u16string empty = dir.file("empty.bin");
    const std::string bytes("map\0me", 6);
    writeText(full, bytes);
    writeText(empty, "");

    FileView view;
    ASSERT_TRUE(mapFileRead(full.c_str(), view));
    ASSERT_EQ(view.size, 6);
    EXPECT_EQ(std::string(view.data, 6), bytes);
    unmapFile(view);
    EXPECT_EQ(view.data, nullptr);
    unmapFile(view);  // an empty view is ignored

    EXPECT_FALSE(mapFileRead(empty.c_str(), view));
    EXPECT_EQ(view.data, nullptr);
    EXPECT_FALSE(mapFileRead(dir.file("missing").c_str(), view));
    EXPECT_FALSE(mapFileRead(dir.file("").c_str(), view)) << "a folder is not mapped";

    std::FILE* f = openFile(full.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    char buf[8] = {};
    EXPECT_EQ(std::fread(buf, 1, sizeof buf, f), 6u);
    std::fclose(f);
    EXPECT_EQ(openFile(dir.file("missing").c_str(), "rb"), nullptr);
}

TEST(PlatformFiles, PathsOutsideAsciiNameTheSameFile) {
    nxtest::TempDir dir("platform-unicode");
    const std::u16string folder = dir.file("") + u"\u4e2d\u00e9";
    const std::u16string path = folder + kPathSeparator + u"f\U0001F600.txt";
    ASSERT_TRUE(createDirectories(folder.c_str()));
    writeText(path, "wide");
    EXPECT_TRUE(pathExists(path.c_str()));
    // The same name through the C++ library's own UTF-8 path conversion.
    const std::filesystem::path native =
        dir.path() / std::filesystem::u8path("\xE4\xB8\xAD\xC3\xA9") / std::filesystem::u8path("f\xF0\x9F\x98\x80.txt");
    EXPECT_EQ(nxtest::readFileBytes(native), "wide");
}

TEST(PlatformProfile, WritesThatCannotLandReportFailure) {
    nxtest::TempDir dir("platform-profile");
    const std::u16string noFolder = dir.file("missing") + kPathSeparator + u"user.ini";
    EXPECT_FALSE(profileWriteString(noFolder.c_str(), u"s", u"k", u"v"));
    EXPECT_FALSE(pathExists(noFolder.c_str()));
    char16_t out[8];
    EXPECT_EQ(profileGetString(noFolder.c_str(), u"s", u"k", u"dflt  ", out, 8), 4u);
    EXPECT_EQ(std::u16string(out), u"dflt") << "trailing blanks of the default are removed";
    EXPECT_EQ(profileGetString(noFolder.c_str(), u"s", u"k", u"0123456789", out, 8), 7u);
    EXPECT_EQ(std::u16string(out), u"0123456");
}

TEST(PlatformTime, LocalTimeRefusesMomentsOutOfRangeAndTicksMoveForward) {
    std::tm tm{};
    ASSERT_TRUE(toLocalTime(86400LL * 365 * 30, &tm));  // 24 December 1999
    char16_t out[64];
    ASSERT_EQ(formatLocalTime(out, 64, "%Y", tm), 4u);
    EXPECT_EQ(std::u16string(out), u"1999");
    EXPECT_FALSE(toLocalTime(1000000000000000000LL, &tm));

    const unsigned int a = tickCount();
    const unsigned int b = tickCount();
    EXPECT_LT(b - a, 3600u * 1000u) << "the count only moves forward (modulo 2^32)";
}

#if !defined(_WIN32)
// The documents folder: an absolute XDG_DOCUMENTS_DIR, else the user-dirs file (with $HOME
// replaced and quotes removed), else $HOME/Documents.
class DocumentsFolder : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_DOCUMENTS_DIR"}) {
            const char* v = std::getenv(name);
            saved_.push_back({name, v ? std::string(v) : std::string(), v != nullptr});
        }
        home_ = dir_.path().string();
        setenv("HOME", home_.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (home_ + "/cfg").c_str(), 1);
        unsetenv("XDG_DOCUMENTS_DIR");
        std::filesystem::create_directories(dir_.path() / "cfg");
    }
    void TearDown() override {
        for (const Saved& s : saved_) {
            if (s.set)
                setenv(s.name, s.value.c_str(), 1);
            else
                unsetenv(s.name);
        }
    }
    void userDirs(const std::string& text) {
        std::ofstream(dir_.path() / "cfg" / "user-dirs.dirs") << text;
    }
    std::string documents() {
        std::u16string path;
        if (!specialFolderPath(SpecialFolder::Documents, false, &path))
            return "<failed>";
        return std::string(path.begin(), path.end());
    }

    struct Saved {
        const char* name;
        std::string value;
        bool set;
    };
    std::vector<Saved> saved_;
    nxtest::TempDir dir_{"platform-docs"};
    std::string home_;
};

TEST_F(DocumentsFolder, ComesFromTheUserDirsFileWithHomeReplaced) {
    userDirs("# comment\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n  XDG_DOCUMENTS_DIR=\"$HOME/Docs Here\"\n");
    EXPECT_EQ(documents(), home_ + "/Docs Here");
    userDirs("XDG_DOCUMENTS_DIR=/abs/docs/\n");
    EXPECT_EQ(documents(), "/abs/docs") << "unquoted, trailing slash dropped";
    userDirs("XDG_DOCUMENTS_DIR=\"relative\"\n");
    EXPECT_EQ(documents(), home_ + "/Documents") << "a relative entry is ignored";
    userDirs("XDG_DOCUMENTS_DIR=\"\"\n");
    EXPECT_EQ(documents(), home_ + "/Documents");
    setenv("XDG_DOCUMENTS_DIR", "/from/env", 1);
    EXPECT_EQ(documents(), "/from/env");
    setenv("XDG_DOCUMENTS_DIR", "not/absolute", 1);
    EXPECT_EQ(documents(), home_ + "/Documents");

    // Creating the folder on the way.
    unsetenv("XDG_DOCUMENTS_DIR");
    userDirs("XDG_DOCUMENTS_DIR=\"$HOME/made/here\"\n");
    std::u16string made;
    ASSERT_TRUE(specialFolderPath(SpecialFolder::Documents, true, &made));
    EXPECT_TRUE(isDirectory(made.c_str()));
}

TEST_F(DocumentsFolder, AppDataFollowsXdgConfigHomeElseHome) {
    std::u16string path;
    ASSERT_TRUE(specialFolderPath(SpecialFolder::AppData, false, &path));
    EXPECT_EQ(std::string(path.begin(), path.end()), home_ + "/cfg");
    setenv("XDG_CONFIG_HOME", "relative/cfg", 1);
    ASSERT_TRUE(specialFolderPath(SpecialFolder::AppData, false, &path));
    EXPECT_EQ(std::string(path.begin(), path.end()), home_ + "/.config");
    // Without HOME the account's home folder from the user database stands in.
    unsetenv("HOME");
    ASSERT_TRUE(specialFolderPath(SpecialFolder::AppData, false, &path));
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path[0], u'/');
    EXPECT_EQ(path.substr(path.size() - 8), u"/.config");
}

TEST(Diagnostics, ReportLinesCarryEveryCharacterAsUtf8) {
    ::testing::internal::CaptureStderr();
    const char16_t message[] = {u'\u4e2d', 0xD83D, 0xDE00, 0xD800, u'x', 0xDC00, 0};
    showReport(message, u"c");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "c: \xE4\xB8\xAD\xF0\x9F\x98\x80\xEF\xBF\xBDx\xEF\xBF\xBD\n")
        << "lone surrogates become U+FFFD";
}

TEST(ProcessorFacts, NameAndSpeedComeFromCpuinfo) {
    std::ifstream in("/proc/cpuinfo");
    std::string line, model, mhz;
    while (std::getline(in, line)) {
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        std::string key = line.substr(0, colon);
        key.erase(key.find_last_not_of(" \t") + 1);
        std::string value = line.substr(colon + 1);
        value.erase(0, value.find_first_not_of(" \t"));
        value.erase(value.find_last_not_of(" \t") + 1);
        if (key == "model name" && model.empty())
            model = value;
        if (key == "cpu MHz" && mhz.empty())
            mhz = value;
    }
    std::string name;
    if (!model.empty()) {
        ASSERT_TRUE(cpuName(name));
        EXPECT_EQ(name, model.substr(0, 255));
    }
    std::uint32_t speed = 0;
    if (!mhz.empty()) {
        ASSERT_TRUE(cpuSpeedMHz(speed));
        EXPECT_EQ(speed, static_cast<std::uint32_t>(std::atof(mhz.c_str()) + 0.5));
    }
    std::uint32_t type = 0;
    std::vector<unsigned char> data;
    if (displayAdapterValue(type, data)) {
        EXPECT_EQ(type, 1u);
        EXPECT_FALSE(data.empty());
    }
}
TEST(Diagnostics, ReportsGoToStandardErrorAndTrapsOnlyUnderADebugger) {
    ::testing::internal::CaptureStderr();
    showReport(u"bad block \u00e9", u"pool");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "pool: bad block \xC3\xA9\n");

    std::ifstream status("/proc/self/status");
    std::string line;
    long tracer = 0;
    while (std::getline(status, line))
        if (line.compare(0, 10, "TracerPid:") == 0)
            tracer = std::atol(line.c_str() + 10);
    EXPECT_EQ(debuggerAttached(), tracer != 0);
    if (tracer == 0)
        debugBreak();  // nobody is debugging: returns without a trap
}
#endif

}  // namespace
