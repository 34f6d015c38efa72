// The directory rule and the line encoder behind the logger, and the log file under failing
// system calls (scripted faults): every failure loses at most the line or the opening at hand
// and leaves the file object usable.
#include "log/log_file.h"
#include "platform/syscalls.h"
#include "platform/utf8.h"
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
        platform::appendUtf8(out, c.in.data(), c.in.size());
        EXPECT_EQ("pre" + c.out, out) << "row " << &c - cases;
    }
    std::string cut;  // a pair cut in the middle by the unit count
    platform::appendUtf8(cut, u"\U0001F600", 1);
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
        SCOPED_TRACE(c.name);
        nxtest::TempDir dir("log-faults");
        const std::u16string path = dir.file("app.log");
        nxlog::LogFile log;
        const bool writing = c.fault.op == SysOp::Write;
        {
            platform::ScopedFault fault(c.fault);
            EXPECT_EQ(c.opens, log.open(path.c_str()));
            if (writing) {
                EXPECT_EQ(c.lineWritten, line(log, u"under fault") > 0);
            }
            EXPECT_NE(0u, platform::faultsFired());
        }
        // Usable afterwards: a failed opening can be repeated, a failed line is followed by
        // whole lines.
        EXPECT_TRUE(log.open(path.c_str()));
        EXPECT_GT(line(log, u"afterwards"), 0);
        log.close();
        const std::string text = nxtest::readFileBytes(dir.path() / "app.log");
        EXPECT_EQ(writing && c.lineWritten, has(dir.path() / "app.log", "under fault\r\n"));
        EXPECT_EQ(text.size() - 12, text.find("afterwards\r\n")) << text;
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
        SCOPED_TRACE(c.name);
        nxtest::TempDir dir("log-rotate-faults");
        const fs::path log = dir.path() / "app.log", bk = dir.path() / "app.log.bk";
        std::ofstream(log, std::ios::binary) << "OLD!";
        fs::resize_file(log, kBig);
        nxlog::LogFile file;
        {
            platform::ScopedFault faults(c.faults.data(), c.faults.data() + c.faults.size());
            EXPECT_EQ(c.opens, file.open(log.u16string().c_str()));
        }
        EXPECT_EQ(c.rotated, fs::exists(bk));
        // The old log whole: moved to ".bk", or kept where it was.
        EXPECT_EQ("OLD!", nxtest::readFileBytes(c.rotated ? bk : log).substr(0, 4));
        EXPECT_TRUE(!c.rotated || fs::file_size(bk) == static_cast<std::uintmax_t>(kBig));
        // Usable either way; a logger whose rotation failed appends to the old log.
        EXPECT_TRUE(file.open(log.u16string().c_str()));
        EXPECT_GT(line(file, u"next"), 0);
        file.close();
        const std::string text = nxtest::readFileBytes(log);
        EXPECT_EQ(text.size() - 6, text.find("next\r\n"));
        if (c.rotated) {  // a fresh log of one line, or the old one grown by it
            EXPECT_EQ(text.size() - 2, text.find("\r\n"));
        } else {
            EXPECT_GT(static_cast<long long>(text.size()), kBig);
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
        SCOPED_TRACE(c.name);
        nxtest::TempDir dir("log-follow-faults");
        const fs::path log = dir.path() / "app.log", aside = dir.path() / "aside.log";
        nxlog::LogFile file;
        ASSERT_TRUE(file.open(log.u16string().c_str()));
        EXPECT_GT(line(file, u"first"), 0);
        if (c.moveAway)
            fs::rename(log, aside);
        {
            // The faults last while the next line is written, so the writer's own check of the
            // path meets them too.
            platform::ScopedFault faults(c.faults.data(), c.faults.data() + c.faults.size());
            EXPECT_EQ(c.follows, file.followPath());
            EXPECT_GT(line(file, u"second"), 0);
        }
        file.close();
        const fs::path old = c.moveAway ? aside : log;
        EXPECT_TRUE(has(old, "first\r\n"));
        EXPECT_TRUE(has(c.follows ? log : old, "second\r\n"));
        EXPECT_TRUE(!c.moveAway || !has(c.follows ? old : log, "second\r\n"));
    }
}

}  // namespace
