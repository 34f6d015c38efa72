// Platform services the subsystems' suites reach only partly: files, moves, mappings, profiles,
// local time, special folders, reports and the fault table itself.
#include "platform/platform.h"
#include "platform/syscalls.h"

#include "support/child_process.h"
#include "support/temp_dir.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

namespace {

using namespace platform;

std::string readAll(FileHandle f) {
    std::string out;
    char buf[64];
    for (long long n; (n = fileRead(f, buf, sizeof buf)) > 0;)
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
    FileHandle f = fileOpen(path.c_str(), FileAccess::CreateKeepExclusive);
    ASSERT_NE(f, kNoFile);
    EXPECT_EQ(fileOpen(path.c_str(), FileAccess::CreateKeepExclusive), kNoFile);
    EXPECT_EQ(fileWrite(f, "ab", 2), 2);
    EXPECT_EQ(fileSize(f), 10);
    fileClose(f);
    // Appending writes land at the end even after a seek.
    ASSERT_NE(f = fileOpen(path.c_str(), FileAccess::Append), kNoFile);
    EXPECT_TRUE(fileSeek(f, 0));
    EXPECT_EQ(fileWrite(f, "Z", 1), 1);
    fileClose(f);
    ASSERT_NE(f = fileOpen(path.c_str(), FileAccess::Read), kNoFile);
    EXPECT_EQ(readAll(f), "ab23456789Z");
    EXPECT_TRUE(fileSeek(f, 9));
    EXPECT_EQ(readAll(f), "9Z");
    EXPECT_EQ(fileWrite(f, "x", 1), -1) << "a read-only handle refuses writes";
    fileClose(f);
    fileClose(kNoFile);  // ignored
    ASSERT_NE(f = fileOpen(path.c_str(), FileAccess::CreateTruncate), kNoFile);
    EXPECT_EQ(fileSize(f), 0);
    fileClose(f);
}

TEST(PlatformFiles, MovesDeletesFoldersAndWidePathsReportFailures) {
    nxtest::TempDir dir("platform-moves");
    const std::u16string a = dir.file("a.txt"), b = dir.file("b.txt");
    writeText(a, "first");
    writeText(b, "second");
    EXPECT_FALSE(moveFile(a.c_str(), b.c_str())) << "an existing target is not replaced";
    EXPECT_EQ(nxtest::readFileBytes(b), "second");
    EXPECT_TRUE(deleteFile(b.c_str()));
    EXPECT_FALSE(deleteFile(b.c_str()));
    EXPECT_TRUE(moveFile(a.c_str(), b.c_str()));
    EXPECT_FALSE(pathExists(a.c_str()));
    EXPECT_EQ(nxtest::readFileBytes(b), "first");
    const std::u16string nested = dir.file("x") + kPathSeparator + u"y" + kPathSeparator + u"z";
    EXPECT_TRUE(createDirectories(nested.c_str()));
    EXPECT_TRUE(createDirectories(nested.c_str())) << "an existing folder is no failure";
    EXPECT_TRUE(isDirectory(nested.c_str()));
    EXPECT_FALSE(isDirectory(b.c_str()));
    EXPECT_FALSE(createDirectories((b + kPathSeparator + u"sub").c_str())) << "a parent file";
    EXPECT_FALSE(createDirectories(u""));
    EXPECT_FALSE(createDirectories(b.c_str())) << "a file where the folder should be";
    EXPECT_TRUE(createDirectories((dir.file("t") + kPathSeparator).c_str())) << "a closing separator";
    EXPECT_TRUE(isDirectory(dir.file("t").c_str()));
#ifndef _WIN32
    EXPECT_FALSE(createDirectories(b.c_str()));
    EXPECT_EQ(ENOTDIR, lastError().code);
    // Without hard links a move checks the target itself and then renames.
    writeText(a, "third");
    {
        ScopedFault noLinks({SysOp::Move, Fault::IoError, 1, 0});
        EXPECT_FALSE(moveFile(a.c_str(), b.c_str()));
        EXPECT_EQ(EEXIST, lastError().code);
        EXPECT_TRUE(moveFile(a.c_str(), dir.file("c.txt").c_str()));
    }
    EXPECT_EQ(nxtest::readFileBytes(b), "first");
    EXPECT_EQ(nxtest::readFileBytes(dir.file("c.txt")), "third");
    EXPECT_FALSE(setFileMode(static_cast<FileHandle>(0x3FFFFFFC), 0600));
#endif
    EXPECT_GT(volumeFreeBytes(dir.file("").c_str()), 0);
    // Names outside ASCII are the same files through the C++ library's UTF-8 conversion.
    const std::u16string folder = dir.file("") + u"\u4e2d\u00e9";
    ASSERT_TRUE(createDirectories(folder.c_str()));
    writeText(folder + kPathSeparator + u"f\U0001F600.txt", "wide");
    EXPECT_EQ(nxtest::readFileBytes(dir.path() / std::filesystem::u8path("\xE4\xB8\xAD\xC3\xA9") /
                                    std::filesystem::u8path("f\xF0\x9F\x98\x80.txt")),
              "wide");
}

TEST(PlatformFiles, MappingsHoldTheBytesAndRefuseEmptyOrMissingFiles) {
    nxtest::TempDir dir("platform-map");
    const std::u16string full = dir.file("full.bin"), empty = dir.file("empty.bin");
    const std::string bytes("map\0me", 6);
    writeText(full, bytes);
    writeText(empty, "");
    FileView view;
    ASSERT_TRUE(mapFileRead(full.c_str(), view));
    EXPECT_EQ(std::string(view.data, view.size), bytes);
    unmapFile(view);
    EXPECT_EQ(view.data, nullptr);
    unmapFile(view);  // an empty view is ignored
    for (const std::u16string& bad : {empty, dir.file("missing"), dir.file("")}) {
        EXPECT_FALSE(mapFileRead(bad.c_str(), view)) << nxtest::narrow(bad);
        EXPECT_EQ(view.data, nullptr);
    }
    std::FILE* f = openFile(full.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    char buf[8] = {};
    EXPECT_EQ(std::fread(buf, 1, sizeof buf, f), 6u);
    std::fclose(f);
    EXPECT_EQ(openFile(dir.file("missing").c_str(), "rb"), nullptr);
}

TEST(PlatformProfile, WritesThatCannotLandReportFailureAndDefaultsAreTrimmedAndCut) {
    nxtest::TempDir dir("platform-profile");
    const std::u16string noFolder = dir.file("missing") + kPathSeparator + u"user.ini";
    EXPECT_FALSE(profileWriteString(noFolder.c_str(), u"s", u"k", u"v"));
    EXPECT_FALSE(pathExists(noFolder.c_str()));
    char16_t out[8];
    EXPECT_EQ(profileGetString(noFolder.c_str(), u"s", u"k", u"dflt  ", out, 8), 4u);
    EXPECT_EQ(std::u16string(out), u"dflt") << "trailing blanks of the default are removed";
    EXPECT_EQ(profileGetString(noFolder.c_str(), u"s", u"k", u"0123456789", out, 8), 7u);
    EXPECT_EQ(std::u16string(out), u"0123456");
    EXPECT_EQ(profileGetString(noFolder.c_str(), u"s", u"k", u"dflt", nullptr, 8), 0u);
    EXPECT_FALSE(profileWriteString(noFolder.c_str(), nullptr, u"k", u"v"));

#ifndef _WIN32  // Win32 profiles are the system's own: no lock file, no status step
    // A write whose turn or whose look at the old file fails leaves the file as it was.
    const std::u16string ini = dir.file("user.ini");
    ASSERT_TRUE(profileWriteString(ini.c_str(), u"s", u"k", u"old"));
    const struct { FaultScript fault; bool written; int code; } cases[] = {
        {{SysOp::LockFirstByte, Fault::IoError}, false, nativeError(Fault::IoError)},
        {{SysOp::LockFirstByte, Fault::Interrupted, 1, 3}, true, 0},  // the turn is waited for again
        {{SysOp::Status, Fault::NotRegular, 1, 0}, false, EINVAL},  // the INI file is a device
    };
    for (const auto& c : cases) {
        {
            ScopedFault fault(c.fault);
            EXPECT_EQ(c.written, profileWriteString(ini.c_str(), u"s", u"k", u"new"));
            EXPECT_GT(faultsFired(), 0u);
            EXPECT_EQ(c.code, c.written ? 0 : lastError().code);
        }
        EXPECT_EQ(profileGetString(ini.c_str(), u"s", u"k", u"", out, 8), 3u);
        EXPECT_EQ(std::u16string(out), c.written ? u"new" : u"old");
        ASSERT_TRUE(profileWriteString(ini.c_str(), u"s", u"k", u"old"));
    }
#endif
}

TEST(PlatformTime, LocalTimeRefusesMomentsOutOfRangeAndTicksMoveForward) {
    std::tm tm{};
    ASSERT_TRUE(toLocalTime(86400LL * 365 * 30, &tm));  // 24 December 1999
    char16_t out[64];
    ASSERT_EQ(formatLocalTime(out, 64, "%Y", tm), 4u);
    EXPECT_EQ(std::u16string(out), u"1999");
    EXPECT_FALSE(toLocalTime(1000000000000000000LL, &tm));
    const unsigned int a = tickCount();
    EXPECT_LT(tickCount() - a, 3600u * 1000u) << "the count only moves forward (modulo 2^32)";
}

#if !defined(_WIN32)
// Documents: an absolute XDG_DOCUMENTS_DIR, else the user-dirs file ($HOME replaced, quotes
// removed), else $HOME/Documents. AppData: an absolute XDG_CONFIG_HOME, else $HOME/.config.
TEST(SpecialFolders, FollowTheXdgSettingsAndFallBackToHome) {
    nxtest::TempDir dir("platform-docs");
    const std::string home = dir.path().string();
    std::vector<std::pair<std::string, std::string>> saved;
    for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_DOCUMENTS_DIR"})
        saved.emplace_back(name, nxtest::getEnv(name));
    nxtest::setEnv("HOME", home);
    nxtest::setEnv("XDG_CONFIG_HOME", home + "/cfg");
    std::filesystem::create_directories(dir.path() / "cfg");
    const auto folder = [](SpecialFolder which, bool create = false) {
        std::u16string path;
        return specialFolderPath(which, create, &path) ? nxtest::narrow(path) : "<failed>";
    };
    const struct { const char *userDirs, *env; std::string expected; } cases[] = {  // env: XDG_DOCUMENTS_DIR
        {"# c\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n  XDG_DOCUMENTS_DIR=\"$HOME/Docs Here\"\n", "",
         home + "/Docs Here"},
        {"XDG_DOCUMENTS_DIR=/abs/docs/\n", "", "/abs/docs"},  // unquoted, trailing slash dropped
        {"XDG_DOCUMENTS_DIR=\"relative\"\n", "", home + "/Documents"},  // ignored
        {"XDG_DOCUMENTS_DIR=\"\"\n", "/from/env", "/from/env"},
        {"XDG_DOCUMENTS_DIR=\"\"\n", "not/absolute", home + "/Documents"},
        {"XDG_DOCUMENTS_DIR=\"$HOME/made/here\"\n", "", home + "/made/here"},  // created below
    };
    for (const auto& c : cases) {
        std::ofstream(dir.path() / "cfg" / "user-dirs.dirs") << c.userDirs;
        nxtest::setEnv("XDG_DOCUMENTS_DIR", c.env);
        const bool create = &c == std::end(cases) - 1;
        EXPECT_EQ(c.expected, folder(SpecialFolder::Documents, create)) << c.userDirs << c.env;
    }
    EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "made" / "here"));
    EXPECT_EQ(home + "/cfg", folder(SpecialFolder::AppData));
    nxtest::setEnv("XDG_CONFIG_HOME", "relative/cfg");
    EXPECT_EQ(home + "/.config", folder(SpecialFolder::AppData));
    // Without HOME the account's home folder from the user database stands in.
    nxtest::setEnv("HOME", "");
    const std::string fromDatabase = folder(SpecialFolder::AppData);
    EXPECT_EQ('/', fromDatabase[0]) << fromDatabase;
    EXPECT_EQ("/.config", fromDatabase.substr(fromDatabase.size() - 8)) << fromDatabase;
    for (const auto& kv : saved)
        nxtest::setEnv(kv.first, kv.second);
}

TEST(Diagnostics, ReportsGoToStandardErrorAsUtf8AndTrapOnlyUnderADebugger) {
    const auto report = [](const char16_t* message, const char16_t* caption) {
        ::testing::internal::CaptureStderr();
        showReport(message, caption);
        return ::testing::internal::GetCapturedStderr();
    };
    EXPECT_EQ("pool: bad block \xC3\xA9\n", report(u"bad block \u00e9", u"pool"));
    // A pair, a lone high and a lone low surrogate: the lone ones become U+FFFD.
    const char16_t odd[] = {u'\u4e2d', 0xD83D, 0xDE00, 0xD800, u'x', 0xDC00, 0};
    EXPECT_EQ("c: \xE4\xB8\xAD\xF0\x9F\x98\x80\xEF\xBF\xBDx\xEF\xBF\xBD\n", report(odd, u"c"));
    std::smatch tracer;
    const std::string status = nxtest::readFileBytes("/proc/self/status");
    ASSERT_TRUE(std::regex_search(status, tracer, std::regex("TracerPid:\\s*([0-9]+)")));
    EXPECT_EQ(debuggerAttached(), tracer[1] != "0");
    if (tracer[1] == "0")
        debugBreak();  // nobody is debugging: returns without a trap
}
#endif

}  // namespace

static void NXUTIL_CALLBACK ignoreTick(unsigned, unsigned, std::uintptr_t, std::uintptr_t, std::uintptr_t) {}

TEST(SystemCallTable, ScriptedFaultsHitTheNthCallsAndTheTableComesBack) {
    nxtest::TempDir dir("syscalls");
    const std::u16string path = dir.file("f");
    writeText(path, "abcdef");
    {
        // Calls 2 and 3 fail; retried interruptions and continued short reads are invisible.
        ScopedFault faults({{SysOp::Seek, Fault::IoError, 2, 2},
                            {SysOp::Read, Fault::Short, 1, 0, 2},
                            {SysOp::Open, Fault::Interrupted, 1, 3}});
        const FileHandle f = fileOpen(path.c_str(), FileAccess::Read);
        ASSERT_NE(f, kNoFile);
        const bool seeks[] = {fileSeek(f, 0), fileSeek(f, 0), fileSeek(f, 0), fileSeek(f, 0)};
        EXPECT_TRUE(seeks[0] && !seeks[1] && !seeks[2] && seeks[3]);
        EXPECT_EQ(lastError().code, nativeError(Fault::IoError));
        EXPECT_STREQ(lastError().call, "seek");
        char buf[8];
        EXPECT_EQ(fileRead(f, buf, sizeof buf), 2);
        EXPECT_EQ(readAll(f), "cdef");
        fileClose(f);
        EXPECT_EQ(faultsFired(), 9u);  // 3 opens, 2 seeks, 4 shortened reads (the last at the end)
    }
    EXPECT_EQ(faultsFired(), 0u);
    EXPECT_EQ(sys().seek, systemCalls().seek);

    // A fault forever from the nth call; folders, mappings and sizes fail as results.
    {
        ScopedFault faults({{SysOp::MakeDirectory, Fault::AccessDenied, 2, 0},
                            {SysOp::Status, Fault::NotRegular}});
        EXPECT_FALSE(createDirectories(dir.file("a/b/c").c_str()));
        EXPECT_FALSE(isDirectory(dir.file("a/b").c_str()));
        FileContents contents;
        EXPECT_EQ(contents.load(path.c_str(), 100), FileResult::NotRegular);
        EXPECT_EQ(contents.load(path.c_str(), 3), FileResult::TooLarge);
        EXPECT_EQ(contents.size(), 6);
    }
    {
        ScopedFault faults({{SysOp::MapView, Fault::NoMemory, 1, 0}, {SysOp::Allocate, Fault::NoMemory}});
        FileView view;
        EXPECT_FALSE(mapFileRead(path.c_str(), view));
        FileContents contents;
        EXPECT_EQ(contents.load(path.c_str(), 100), FileResult::NoMemory);
        EXPECT_EQ(contents.load(path.c_str(), 100), FileResult::Ok);  // read into a buffer
        EXPECT_EQ(std::string(contents.data(), static_cast<std::size_t>(contents.size())), "abcdef");
        void* buffer = allocBuffer(1 << 20);  // the one scripted refusal is used up
        EXPECT_NE(buffer, nullptr);
        freeBuffer(buffer);
    }
    // A write that makes no progress is a full disk, not an endless loop.
    {
        ScopedFault faults({SysOp::Write, Fault::Short, 1, 0, 0});
        const FileHandle f = fileOpen(path.c_str(), FileAccess::Append);
        EXPECT_EQ(fileWrite(f, "xyz", 3), -1);
        EXPECT_EQ(lastError().code, nativeError(Fault::NoSpace));
        fileClose(f);
    }
    // The backend's own entries turn the system's refusals into results.
    {
        const SysCalls& os = systemCalls();
        const FileHandle bad = static_cast<FileHandle>(0x3FFFFFFC);  // no such descriptor or handle
        char buf[4];
        FileStatus st;
        EXPECT_EQ(os.read(bad, buf, sizeof buf), -1);
        EXPECT_EQ(os.write(bad, buf, sizeof buf), -1);
        EXPECT_FALSE(os.status(bad, st));
        EXPECT_EQ(os.mapView(bad, 4096), nullptr);
        EXPECT_EQ(os.mapShared(bad, 4096), nullptr);
        EXPECT_FALSE(os.lockFirstByte(bad, true, false));
        EXPECT_EQ(os.reserveMemory(~std::size_t(0) / 2, true), nullptr);
        EXPECT_EQ(os.openSharedMemory("", 0), kNoFile);
        // Every fault has its own native error; "interrupted" is the one callers retry.
        const Fault faults[] = {Fault::NoSpace,      Fault::IoError, Fault::Interrupted, Fault::NoMemory,
                                Fault::TryAgain,     Fault::AccessDenied, Fault::NotRegular};
        for (const Fault f : faults) {
            EXPECT_NE(nativeError(f), 0);
            EXPECT_EQ(isInterrupted(nativeError(f)), f == Fault::Interrupted);
        }
        EXPECT_EQ(nativeError(Fault::Short), 0);
        // An operation the table does not have is not scripted.
        scriptFault({SysOp::Count, Fault::IoError});
        EXPECT_STREQ(sysOpName(SysOp::Count), "");
        EXPECT_STREQ(sysOpName(SysOp::ModuleFileName), "module_name");
        clearFaults();
    }
    // A status that is scripted to say "not regular" but fails itself still fails.
    {
        ScopedFault faults({SysOp::Status, Fault::NotRegular});
        FileStatus st;
        EXPECT_FALSE(sys().status(static_cast<FileHandle>(0x3FFFFFFC), st));
    }
    // A thread or timer the system refuses is a failed start.
    {
        ScopedFault faults({SysOp::StartTimer, Fault::TryAgain});
        EXPECT_EQ(mmTimerSet(5, ignoreTick, 0), 0u);
    }
}

TEST(PlatformFiles, ReplacingAFileKeepsItsModeAndNeverWritesThroughALink) {
    nxtest::TempDir dir("replace");
    const std::u16string path = dir.file("doc");
    bool inPlace = true;
    ASSERT_EQ(replaceFile(path.c_str(), "new", 3, &inPlace), FileResult::Ok);
    EXPECT_FALSE(inPlace);
    EXPECT_EQ(nxtest::readFileBytes(dir.path() / "doc"), "new");
    EXPECT_EQ(replaceFile(dir.file(".").c_str(), "x", 1), FileResult::NotRegular);
    EXPECT_EQ(replaceFile(dir.file("missing/doc").c_str(), "x", 1), FileResult::OpenFailed);
    EXPECT_EQ(replaceFile(u"", "x", 1), FileResult::OpenFailed);
#ifndef _WIN32
    namespace fs = std::filesystem;
    // A new file is private to its owner; a replaced one keeps the mode it had.
    EXPECT_EQ(fs::status(dir.path() / "doc").permissions(), fs::perms::owner_read | fs::perms::owner_write);
    fs::permissions(dir.path() / "doc", fs::perms::owner_all | fs::perms::group_read);
    ASSERT_EQ(replaceFile(path.c_str(), "newer", 5), FileResult::Ok);
    EXPECT_EQ(fs::status(dir.path() / "doc").permissions(), fs::perms::owner_all | fs::perms::group_read);
    // A link planted at the path is replaced itself; its target keeps its bytes.
    std::ofstream(dir.path() / "target") << "secret";
    fs::create_symlink(dir.path() / "target", dir.path() / "link");
    ASSERT_EQ(replaceFile(dir.file("link").c_str(), "mine", 4), FileResult::Ok);
    EXPECT_EQ(nxtest::readFileBytes(dir.path() / "target"), "secret");
    EXPECT_FALSE(fs::is_symlink(dir.path() / "link"));
    EXPECT_EQ(nxtest::readFileBytes(dir.path() / "link"), "mine");
#endif
}
