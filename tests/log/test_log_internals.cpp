// The directory rule and the line encoder behind the logger, and the log file under failing
// system calls (scripted faults): every failure loses at most the line or the opening at hand
// and leaves the file object usable.
#include "log/log_file.h"
#include "platform/syscalls.h"
#include "support/temp_dir.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

TEST(LogPaths, DirectoryPartPrefersTheLastBackslash) {
    const struct { const char16_t *path, *dir, *name; } cases[] = {
        {u"C:\\logs\\app.log", u"C:\\logs", u"app.log"}, {u"/var/log/app.log", u"/var/log", u"app.log"},
        {u"C:\\folder/app.log", u"C:", u"folder/app.log"},  // the backslash wins
        {u"app.log", u"", u"app.log"}, {u"/app.log", u"", u"app.log"}, {u"dir/", u"dir", u""},
        {u"", u"", u""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(std::u16string(c.dir), nxlog::logDirectoryPart(c.path)) << nxtest::narrow(c.path);
        EXPECT_EQ(std::u16string(c.name), nxlog::logFileNamePart(c.path)) << nxtest::narrow(c.path);
    }
}

TEST(LogEncoding, Utf8ReplacesLoneSurrogatesAndKeepsPairs) {
    const struct { std::u16string in; std::string out; } cases[] = {
        {u"a\u007F\u0080\u07FF\u0800\uFFFF", "a\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF"},
        {u"\U00010000\U0010FFFF", "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF"},
        {std::u16string(1, char16_t(0xD83D)), "\xEF\xBF\xBD"},           // high alone
        {std::u16string(1, char16_t(0xDE00)) + u"x", "\xEF\xBF\xBDx"},   // low alone
        {std::u16string{char16_t(0xDE00), char16_t(0xD83D)}, "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {std::u16string(3, u'\0'), std::string(3, '\0')},
    };
    for (const auto& c : cases) {
        std::string out = "pre";
        nxlog::appendUtf8(out, c.in.data(), c.in.size());
        EXPECT_EQ("pre" + c.out, out) << "row " << &c - cases;
    }
    std::string cut;  // a pair cut in the middle by the unit count
    nxlog::appendUtf8(cut, u"\U0001F600", 1);
    EXPECT_EQ("\xEF\xBF\xBD", cut);
}

namespace fs = std::filesystem;
using platform::Fault;
using platform::FaultScript;
using platform::SysOp;

bool has(const fs::path& p, const std::string& what) {
    return nxtest::readFileBytes(p).find(what) != std::string::npos;
}

long long line(nxlog::LogFile& log, const std::u16string& text) {
    return log.writeLine(text.data(), text.size());
}

TEST(LogFaults, FailedOpeningsAndWritesLoseOnlyTheirOwnStep) {
    const struct {
        const char* name;
        FaultScript fault;
        bool opens;         // whether open() succeeds under the fault
        bool lineWritten;   // whether the line written under the fault arrives
    } cases[] = {
        {"open refused", {SysOp::Open, Fault::AccessDenied}, false, false},
        {"status fails", {SysOp::Status, Fault::IoError}, false, false},
        {"not a regular file", {SysOp::Status, Fault::NotRegular}, false, false},
        {"disk full", {SysOp::Write, Fault::NoSpace}, true, false},
        {"device error", {SysOp::Write, Fault::IoError}, true, false},
        {"short write", {SysOp::Write, Fault::Short, 1, 3, 5}, true, true},
        {"write interrupted", {SysOp::Write, Fault::Interrupted}, true, true},
    };
    for (const auto& c : cases) {
        nxtest::TempDir dir("log-faults");
        const std::u16string path = dir.file("app.log");
        nxlog::LogFile log;
        const bool writing = c.fault.op == SysOp::Write;
        {
            platform::ScopedFault fault(c.fault);
            EXPECT_EQ(c.opens, log.open(path.c_str())) << c.name;
            if (writing) {
                EXPECT_EQ(c.lineWritten, line(log, u"under fault") > 0) << c.name;
            }
            EXPECT_NE(0u, platform::faultsFired()) << c.name;
        }
        // Usable afterwards: a failed opening can be repeated, a failed line is followed by
        // whole lines.
        EXPECT_TRUE(log.open(path.c_str())) << c.name;
        EXPECT_GT(line(log, u"afterwards"), 0) << c.name;
        log.close();
        const std::string text = nxtest::readFileBytes(dir.path() / "app.log");
        EXPECT_EQ(writing && c.lineWritten, has(dir.path() / "app.log", "under fault\r\n")) << c.name;
        EXPECT_EQ(text.size() - 12, text.find("afterwards\r\n")) << c.name << ": " << text;
    }
}

TEST(LogFaults, RotationKeepsTheLogWhenNoBackupCanBeMade) {
    constexpr long long kBig = nxlog::kLogRotateBytes + 1;
    const struct {
        const char* name;
        std::vector<FaultScript> faults;
        bool opens;
        bool rotated;  // the old log became ".bk"
    } cases[] = {
        {"no faults", {}, true, true},
        // The move of the log to ".bk" fails (both ways a POSIX move tries, and the one of Win32).
        {"move refused", {{SysOp::Move, Fault::AccessDenied, 1, 0}, {SysOp::Rename, Fault::AccessDenied, 1, 0}},
         true, false},
        {"move: no space", {{SysOp::Move, Fault::NoSpace, 1, 0}, {SysOp::Rename, Fault::NoSpace, 1, 0}},
         true, false},
        // Moved, but the fresh log cannot be opened (or is not a regular file): no file.
        {"reopen refused", {{SysOp::Open, Fault::AccessDenied, 2, 0}}, false, true},
        {"reopen not regular", {{SysOp::Status, Fault::NotRegular, 2}}, false, true},
    };
    for (const auto& c : cases) {
        nxtest::TempDir dir("log-rotate-faults");
        const fs::path log = dir.path() / "app.log", bk = dir.path() / "app.log.bk";
        std::ofstream(log, std::ios::binary) << "OLD!";
        fs::resize_file(log, kBig);
        nxlog::LogFile file;
        {
            platform::ScopedFault faults(c.faults.data(), c.faults.data() + c.faults.size());
            EXPECT_EQ(c.opens, file.open(log.u16string().c_str())) << c.name;
        }
        EXPECT_EQ(c.rotated, fs::exists(bk)) << c.name;
        if (c.rotated) {
            EXPECT_EQ("OLD!", nxtest::readFileBytes(bk).substr(0, 4)) << c.name;
            EXPECT_EQ(static_cast<std::uintmax_t>(kBig), fs::file_size(bk)) << c.name;
        } else {
            EXPECT_EQ("OLD!", nxtest::readFileBytes(log).substr(0, 4)) << c.name << ": kept";
        }
        // Usable either way; a logger whose rotation failed appends to the old log.
        EXPECT_TRUE(file.open(log.u16string().c_str())) << c.name;
        EXPECT_GT(line(file, u"next"), 0) << c.name;
        file.close();
        const std::string text = nxtest::readFileBytes(log);
        EXPECT_EQ(text.size() - 6, text.find("next\r\n")) << c.name;
        if (c.rotated) {
            EXPECT_EQ(text.size() - 2, text.find("\r\n")) << c.name << ": one line";
        } else {
            EXPECT_GT(static_cast<long long>(text.size()), kBig) << c.name;
        }
    }
}

TEST(LogFaults, FollowingARotatedLogKeepsTheOldFileWhenTheNewOneCannotBeUsed) {
    const struct {
        const char* name;
        bool moveAway;  // another process moved the log aside
        std::vector<FaultScript> faults;
        bool follows;
    } cases[] = {
        {"path unchanged", false, {}, false},
        {"moved aside", true, {}, true},
        {"moved, status of the open file fails", true, {{SysOp::Status, Fault::IoError, 1, 1}}, true},
        {"moved, new log refused", true, {{SysOp::Open, Fault::AccessDenied, 1, 0}}, false},
        {"moved, new log not regular", true, {{SysOp::Status, Fault::NotRegular, 1, 0}}, false},
    };
    for (const auto& c : cases) {
        nxtest::TempDir dir("log-follow-faults");
        const fs::path log = dir.path() / "app.log", aside = dir.path() / "aside.log";
        nxlog::LogFile file;
        ASSERT_TRUE(file.open(log.u16string().c_str())) << c.name;
        EXPECT_GT(line(file, u"first"), 0);
        if (c.moveAway)
            fs::rename(log, aside);
        {
            // The faults last while the next line is written, so the writer's own check of the
            // path meets them too.
            platform::ScopedFault faults(c.faults.data(), c.faults.data() + c.faults.size());
            EXPECT_EQ(c.follows, file.followPath()) << c.name;
            EXPECT_GT(line(file, u"second"), 0) << c.name;
        }
        file.close();
        const fs::path old = c.moveAway ? aside : log;
        const fs::path current = c.follows ? log : old;
        EXPECT_TRUE(has(old, "first\r\n")) << c.name;
        EXPECT_TRUE(has(current, "second\r\n")) << c.name;
        if (c.moveAway) {
            EXPECT_FALSE(has(c.follows ? old : log, "second\r\n")) << c.name;
        }
    }
}

}  // namespace
