// The private-profile store on real files, FIFOs, devices and oversized files, under scripted
// system-call faults and with two processes writing one file at once, and the frame-rate
// counters on an injected millisecond clock, read back from the process log.
#include "log/log.h"
#include "log/log_file.h"
#include "platform/error.h"
#include "platform/file.h"
#include "platform/folders.h"
#include "platform/profile.h"
#include "platform/syscalls.h"
#include "pubfunc/pubfunc.h"
#include "pubfunc/pubfunc_internal.h"
#include "support/child_process.h"
#include "support/temp_dir.h"
#include "support/test_support.h"
#include "xml/xml.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <regex>
#include <string>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;

const bool kPosixStore = platform::kPathSeparator == u'/';

std::u16string read(const fs::path& file, const std::u16string& section, const std::u16string& key,
                    const char16_t* def = u"<default>") {
    std::u16string buf(1024, u'#');
    const std::size_t n = platform::profileGetString(file.u16string().c_str(), section.c_str(),
                                                     key.c_str(), def, &buf[0], buf.size());
    EXPECT_EQ(u'\0', buf[n]);
    return buf.substr(0, n);
}

bool write(const fs::path& file, const std::u16string& section, const std::u16string& key,
           const std::u16string& value) {
    return platform::profileWriteString(file.u16string().c_str(), section.c_str(), key.c_str(),
                                        value.c_str());
}

std::u16string u16(const std::string& s) { return fs::path(s).u16string(); }

// File bytes with their line ends visible.
std::string shown(const std::string& bytes) {
    std::string out;
    for (const char c : bytes)
        out += c == '\r' ? std::string("\\r") : c == '\n' ? std::string("\\n") : std::string(1, c);
    return out;
}

// Runs `call` on a thread of its own and ends the run when it has not returned within a
// minute, so that a call stuck on a FIFO fails instead of hanging.
template <typename F>
auto within(F call) {
    auto result = std::async(std::launch::async, call);
    if (result.wait_for(std::chrono::minutes(1)) != std::future_status::ready) {
        std::fprintf(stderr, "a profile call blocked\n");
        std::_Exit(1);
    }
    return result.get();
}

// One table for both backends (the Windows leg asks the system's profile functions): a Get row
// reads (section, key) with `arg` as the default; a Set row writes `arg`, reads the key back as
// `result` and compares the file with `after`. `file` null: no file. `wine`: why Wine writes
// other bytes that read the same, so only the POSIX store is held to `after`.
TEST(Profile, SameRowsHoldForTheSystemAndTheLibraryStore) {
    const char16_t* const D = u"<default>";
    const std::string dup = "[S]\r\nk=1\r\n[T]\r\nt=1\r\n[S]\r\nk=2\r\nj=2\r\n";
    const char* const cr = "[S]\rk=v\rj=w\r";
    const char* const mix = "[S]\nk=v\r\nj=w\rl=z\n";
    const char* const kv = "[S]\r\nk=v\r\n";
    const char* const rw = "Wine writes the whole file anew (CR LF line ends, no blanks or blank "
                           "lines); Windows edits the file in place";
    enum Op { Get, Set };
    const struct Row {
        const char* file;
        Op op;
        const char16_t *section, *key, *arg, *result;
        const char* after = nullptr;
        const char* wine = nullptr;
    } rows[] = {
        // Line ends: CR LF, LF and a lone CR each end a line, in any mix.
        {cr, Get, u"S", u"k", D, u"v"}, {cr, Get, u"S", u"j", D, u"w"},
        {cr, Set, u"S", u"k", u"x", u"x", "[S]\rk=x\rj=w\r", rw},
        {"[S]\r\nk=v\r\r\nj=w\r\n", Get, u"S", u"k", D, u"v"},
        {"[S]\r\nk=v\r\r\n", Set, u"S", u"k", u"x", u"x", "[S]\r\nk=x\r\r\n", rw},
        {mix, Get, u"S", u"j", D, u"w"}, {mix, Get, u"S", u"l", D, u"z"},
        {mix, Set, u"S", u"n", u"x", u"x", "[S]\nk=v\r\nj=w\rl=z\nn=x\n", rw},
        {"[S]\r\nk=a\rb=c\r\n", Get, u"S", u"b", D, u"c"}, {"[S]\nk=1\r", Get, u"S", u"k", D, u"1"},
        // New files get CR LF; an existing file keeps the line end of its first line.
        {nullptr, Set, u"S", u"k", u"v", u"v", "[S]\r\nk=v\r\n"},
        {"", Set, u"S", u"k", u"v", u"v", "[S]\r\nk=v\r\n"},
        {"[S]\nk=v\n", Set, u"S", u"j", u"w", u"w", "[S]\nk=v\nj=w\n", rw},
        {"[S]\nk=v\n", Set, u"S", u"k", u"w", u"w", "[S]\nk=w\n", rw},
        {"[S]\nk=v\n", Set, u"T", u"j", u"w", u"w", "[S]\nk=v\n[T]\nj=w\n", rw},
        {"[S]\r\nk=v", Set, u"S", u"j", u"x", u"x", "[S]\r\nk=v\r\nj=x\r\n"},
        {"[S]\nk=v", Set, u"S", u"j", u"x", u"x", "[S]\nk=v\nj=x\n", rw},
        {"[S]\r\nk=1\r", Set, u"S", u"j", u"x", u"x", "[S]\r\nk=1\r\nj=x\r\n"},
        {"[S]\r\nk=1", Set, u"U", u"j", u"x", u"x", "[S]\r\nk=1\r\n[U]\r\nj=x\r\n"},
        // Names passed with blanks are trimmed, on a read and on a write.
        {kv, Get, u" S ", u" k ", D, u"v"}, {kv, Get, u"\tS\t", u"\tk\t", D, u"v"},
        {kv, Set, u" S ", u" k ", u"x", u"x", "[S]\r\nk=x\r\n"},
        {kv, Set, u" S ", u" j ", u"x", u"x", "[S]\r\nk=v\r\nj=x\r\n",
         "Wine keeps the blank after a new key (\"j =x\"); it reads the same"},
        {kv, Set, u" T ", u" j ", u"x", u"x", "[S]\r\nk=v\r\n[T]\r\nj=x\r\n",
         "Wine keeps the blank after a new section and key (\"[T ]\", \"j =x\"); they read the same"},
        // Blanks in the file around names and values.
        {"  [ S ]  \r\n  k  =  v  \r\n", Get, u"S", u"k", D, u"v"},
        {"\t[\tS\t]\t\r\n\vk\v=\f\tv\t\f\r\n", Get, u"S", u"k", D, u"v"},
        {"  [ S ]  \r\n  k  =  v  \r\n", Set, u"S", u"k", u"x", u"x", "  [ S ]  \r\nk=x\r\n", rw},
        {kv, Set, u"S", u"k", u"  x  ", u"x", "[S]\r\nk=x  \r\n"},
        {"[S]\r\na b = c d \r\n", Get, u"S", u"a b", D, u"c d"},
        {"[a b]\r\nk=1\r\n", Get, u"A B", u"k", D, u"1"},
        // Case: names match in any case, and a replaced entry keeps the file's spelling.
        {"[sEc]\r\nKeY=v\r\n", Get, u"SeC", u"kEy", D, u"v"},
        {"[sEc]\r\nKeY  = v\r\n", Set, u"SeC", u"kEy", u"x", u"x", "[sEc]\r\nKeY=x\r\n"},
        // Duplicate sections: only the first occurrence is read and written.
        {dup.c_str(), Get, u"S", u"k", D, u"1"}, {dup.c_str(), Get, u"S", u"j", D, D},
        {dup.c_str(), Set, u"S", u"k", u"9", u"9", "[S]\r\nk=9\r\n[T]\r\nt=1\r\n[S]\r\nk=2\r\nj=2\r\n"},
        {dup.c_str(), Set, u"S", u"j", u"9", u"9", "[S]\r\nk=1\r\nj=9\r\n[T]\r\nt=1\r\n[S]\r\nk=2\r\nj=2\r\n"},
        {"[S]\r\n[T]\r\n[S]\r\nk=1\r\n", Get, u"S", u"k", D, D},
        {"[S]\r\n[T]\r\n[S]\r\nk=1\r\n", Set, u"S", u"k", u"x", u"x", "[S]\r\nk=x\r\n[T]\r\n[S]\r\nk=1\r\n"},
        // Duplicate keys: the first one is read and written.
        {"[S]\r\nk=1\r\nk=2\r\n", Get, u"S", u"k", D, u"1"},
        {"[S]\r\nk=1\r\nk=2\r\n", Set, u"S", u"k", u"9", u"9", "[S]\r\nk=9\r\nk=2\r\n"},
        // Values: quotes, empty values, "=" in a value.
        {"[S]\r\nk=\"v w\"\r\n", Get, u"S", u"k", D, u"v w"},
        {"[S]\r\nk='v w'\r\n", Get, u"S", u"k", D, u"v w"},
        {"[S]\r\nk= \" v \" \r\n", Get, u"S", u"k", D, u" v "},
        {"[S]\r\nk=\"v'\r\n", Get, u"S", u"k", D, u"\"v'"},
        {"[S]\r\nk=\"\r\n", Get, u"S", u"k", D, u"\""}, {"[S]\r\nk=\"\"\r\n", Get, u"S", u"k", D, u""},
        {"[S]\r\n", Set, u"S", u"k", u"\"a b\"", u"a b", "[S]\r\nk=\"a b\"\r\n"},
        {"[S]\r\nk=\r\n", Get, u"S", u"k", D, u""},
        {kv, Set, u"S", u"k", u"", u"", "[S]\r\nk=\r\n"},
        {"[S]\r\nk=a=b\r\n", Get, u"S", u"k", D, u"a=b"},
        {"[S]\r\n", Get, u"S", u"k", u" d  ", u" d"},  // the default loses its trailing blanks
        {nullptr, Get, u"S", u"k", D, D},
        // A key without "=" has no value: a read gives the default, a write fills the line.
        {"[S]\r\nk\r\nj=1\r\n", Get, u"S", u"k", D, D},
        {"[S]\r\nk\r\nk=2\r\n", Get, u"S", u"k", D, D},
        {"[S]\r\nk\r\nj=1\r\n", Set, u"S", u"k", u"x", u"x", "[S]\r\nk=x\r\nj=1\r\n"},
        {"[S]\r\n  k  \r\n", Set, u"S", u"k", u"x", u"x", "[S]\r\nk=x\r\n"},
        // No comment syntax: "; c" and "#c" lines are keys like any other.
        {"[S]\r\n;k=c\r\nk=v\r\n", Get, u"S", u"k", D, u"v"},
        {"[S]\r\n;k=c\r\nk=v\r\n", Get, u"S", u";k", D, u"c"},
        {"[S]\r\n#k=c\r\n", Get, u"S", u"#k", D, u"c"},
        {"[S]\r\nk=1\r\n; c\r\n[T]\r\n", Set, u"S", u"j", u"x", u"x", "[S]\r\nk=1\r\n; c\r\nj=x\r\n[T]\r\n"},
        {"; top\r\n[S]\r\n; mid\r\nk=v\r\n\r\n; end\r\n", Set, u"S", u"k", u"x", u"x",
         "; top\r\n[S]\r\n; mid\r\nk=x\r\n\r\n; end\r\n", rw},
        // Section headers: text after "]" is ignored; "[" without "]" starts no section.
        {"[S] junk\r\nk=v\r\n", Get, u"S", u"k", D, u"v"}, {"[S\r\nk=v\r\n", Get, u"S", u"k", D, D},
        // New keys go after the section's last entry, before blank lines.
        {"[S]\r\nk=1\r\n\r\n[T]\r\nt=1\r\n", Set, u"S", u"j", u"x", u"x",
         "[S]\r\nk=1\r\nj=x\r\n\r\n[T]\r\nt=1\r\n", rw},
        {"\r\n\r\n[S]\r\n\r\nk=v\r\n\r\n\r\n", Set, u"S", u"k", u"x", u"x",
         "\r\n\r\n[S]\r\n\r\nk=x\r\n\r\n\r\n", rw},
    };
    nxtest::TempDir dir("profile-rows");
    for (const Row& r : rows) {
        const std::size_t index = static_cast<std::size_t>(&r - rows);
        SCOPED_TRACE("row " + std::to_string(index) + ": " +
                     (r.file ? shown(r.file) : std::string("no file")) + " " +
                     (r.op == Get ? "get " : "set ") + nxtest::narrow(r.section) + "/" +
                     nxtest::narrow(r.key) + " " + nxtest::narrow(r.arg));
        // A file per row: the system may cache a profile it has just read.
        const fs::path ini = dir.path() / ("row" + std::to_string(index) + ".ini");
        if (r.file)
            std::ofstream(ini, std::ios::binary) << r.file;
        if (r.op == Set) {
            EXPECT_TRUE(write(ini, r.section, r.key, r.arg));
            if (kPosixStore || !r.wine) {
                EXPECT_EQ(shown(r.after), shown(nxtest::readFileBytes(ini))) << (r.wine ? r.wine : "");
            }
            EXPECT_EQ(r.result, read(ini, r.section, r.key));
        } else {
            EXPECT_EQ(r.result, read(ini, r.section, r.key, r.arg));
        }
    }
}

TEST(Profile, LeavesOnlyItsLockFileAndKeepsHandWrittenContent) {
    if (!kPosixStore)
        GTEST_SKIP() << "the system's profile functions own the file";
    nxtest::TempDir dir("profile-basic");
    const fs::path ini = dir.path() / "user.ini";
    ASSERT_TRUE(write(ini, u"t", u"k", u""));
    // Nothing but the file and its lock file is left behind.
    EXPECT_EQ((std::vector<std::string>{"user.ini", "user.ini.lock"}), nxtest::fileNames(dir.path()));
    // Hand-written content of a damaged file is kept byte for byte.
    const fs::path bad = dir.path() / "bad.ini";
    const std::string head = "garbage \xFF\xFE\n; note\n[s]\nk=1\n";
    const std::string tail = "\n[t]\n" + std::string(200000, 'x') + "\nj=";
    std::ofstream(bad, std::ios::binary) << head << tail << "2";
    EXPECT_EQ(u"2", read(bad, u"t", u"j"));
    ASSERT_TRUE(write(bad, u"s", u"new", u"3"));
    ASSERT_TRUE(write(bad, u"t", u"j", u"22"));
    EXPECT_TRUE(head + "new=3\n" + tail + "22" == nxtest::readFileBytes(bad));
}

// Only regular files up to the size limit are read or written: the others read as missing and
// are left exactly as they were.
TEST(Profile, RefusesFifosDevicesFoldersAndOversizedFilesWithoutBlocking) {
    if (!kPosixStore)
        GTEST_SKIP() << "FIFOs, /dev/zero and the size limit belong to the POSIX store";
    nxtest::TempDir dir("profile-special");
    const fs::path fifo = dir.path() / "fifo.ini", zero = dir.path() / "zero.ini",
                   folder = dir.path() / "dir.ini";
    ASSERT_TRUE(nxtest::makeFifo(fifo.string()));
    fs::create_symlink("/dev/zero", zero);
    fs::create_directory(folder);
    const auto sized = [&](const char* name, long long size) {
        const fs::path p = dir.path() / name;
        std::ofstream(p, std::ios::binary) << "[s]\nk=1\n";
        fs::resize_file(p, static_cast<std::uintmax_t>(size));  // sparse: no disk space used
        return p;
    };
    const char16_t* const D = u"<default>";
    const struct {
        const char* what;
        fs::path p;
        std::u16string read;  // of s/k
        bool writes;          // of s/k=2 (same size)
    } cases[] = {
        {"FIFO", fifo, D, false}, {"link to /dev/zero", zero, D, false}, {"folder", folder, D, false},
        {"one byte over the limit", sized("big.ini", platform::kProfileMaxBytes + 1), D, false},
        {"at the limit", sized("full.ini", platform::kProfileMaxBytes), u"1", true},
    };
    // The kind, size and first bytes of what is at `p`.
    const auto snapshot = [](const fs::path& p) {
        const fs::file_type type = fs::symlink_status(p).type();
        std::string head = std::to_string(static_cast<int>(type));
        if (type == fs::file_type::regular)
            head += " " + std::to_string(fs::file_size(p)) + " " + nxtest::readFileBytes(p).substr(0, 64);
        return head;
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path& p = c.p;
        const std::string before = snapshot(p);
        EXPECT_EQ(c.read, within([p] { return read(p, u"s", u"k"); }));
        EXPECT_EQ(c.writes, within([p] { return write(p, u"s", u"k", u"2"); }));
        if (!c.writes) {
            EXPECT_EQ(before, snapshot(p));
            continue;
        }
        EXPECT_EQ(u"2", read(p, u"s", u"k"));
        EXPECT_EQ(platform::kProfileMaxBytes, static_cast<long long>(fs::file_size(p)));
        // A write over the limit is refused: the next read would not see the file at all.
        const std::string full = snapshot(p);
        EXPECT_FALSE(write(p, u"s", u"more", u"3"));
        EXPECT_EQ(full, snapshot(p));
    }
}

// Every failure of the system calls under a read or a write, scripted: a failed read gives the
// default, a failed write returns false with the old file intact byte for byte and no
// temporary file left; interrupted calls and short transfers are finished.
TEST(Profile, ScriptedFaultsGiveTheDefaultOrLeaveTheOldFileIntact) {
    if (!kPosixStore)
        GTEST_SKIP() << "the system's profile functions do not go through the system-call table";
    using platform::Fault;
    using platform::SysOp;
    const platform::FaultScript noMap{SysOp::MapView, Fault::NoMemory, 1, 0};  // read() instead
    const struct {
        const char* what;
        bool write;  // profileWriteString, else profileGetString
        std::vector<platform::FaultScript> faults;
        bool ok;
    } cases[] = {
        {"lock file not opened", true, {{SysOp::Open, Fault::AccessDenied, 1}}, false},
        {"file not opened", true, {{SysOp::Open, Fault::AccessDenied, 2}}, false},
        {"open interrupted", true, {{SysOp::Open, Fault::Interrupted, 2, 3}}, true},
        {"no status", true, {{SysOp::Status, Fault::IoError, 1}}, false},
        {"not regular", true, {{SysOp::Status, Fault::NotRegular, 1}}, false},
        {"not regular when replaced", true, {{SysOp::Status, Fault::NotRegular, 2}}, false},
        {"no memory", true, {noMap, {SysOp::Allocate, Fault::NoMemory, 1, 0}}, false},
        {"read error", true, {noMap, {SysOp::Read, Fault::IoError, 1}}, false},
        {"short reads", true, {noMap, {SysOp::Read, Fault::Short, 1, 0, 3}}, true},
        {"temporary file not created", true, {{SysOp::Open, Fault::NoSpace, 4}}, false},
        {"disk full writing", true, {{SysOp::Write, Fault::NoSpace, 1}}, false},
        {"I/O error writing", true, {{SysOp::Write, Fault::IoError, 1}}, false},
        {"write interrupted", true, {{SysOp::Write, Fault::Interrupted, 1, 3}}, true},
        {"short writes", true, {{SysOp::Write, Fault::Short, 1, 0, 5}}, true},
        {"flush fails", true, {{SysOp::Flush, Fault::IoError, 1}}, false},
        {"close reports an error", true, {{SysOp::Close, Fault::IoError, 3}}, false},
        {"rename: disk full", true, {{SysOp::Rename, Fault::NoSpace, 1}}, false},
        {"rename: I/O error", true, {{SysOp::Rename, Fault::IoError, 1}}, false},
        {"not opened", false, {{SysOp::Open, Fault::AccessDenied, 1}}, false},
        {"open interrupted", false, {{SysOp::Open, Fault::Interrupted, 1, 2}}, true},
        {"no status", false, {{SysOp::Status, Fault::IoError, 1}}, false},
        {"not regular", false, {{SysOp::Status, Fault::NotRegular, 1}}, false},
        {"no memory", false, {noMap, {SysOp::Allocate, Fault::NoMemory, 1}}, false},
        {"read error", false, {noMap, {SysOp::Read, Fault::IoError, 1}}, false},
        {"read interrupted", false, {noMap, {SysOp::Read, Fault::Interrupted, 1, 2}}, true},
        {"short reads", false, {noMap, {SysOp::Read, Fault::Short, 1, 0, 2}}, true},
    };
    nxtest::TempDir dir("profile-faults");
    const fs::path ini = dir.path() / "user.ini";
    std::ofstream(dir.path() / "user.ini.lock");
    const std::string old = "; settings\r\n[s]\r\nk=old\r\n";
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.write ? "write: " : "read: ") + c.what);
        std::ofstream(ini, std::ios::binary | std::ios::trunc) << old;
        fs::permissions(ini, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
        for (const platform::FaultScript& f : c.faults)
            platform::scriptFault(f);
        bool ok;
        if (c.write) {
            ok = write(ini, u"s", u"k", u"new");
            EXPECT_TRUE(ok || platform::lastError().code != 0);
        } else {
            ok = read(ini, u"s", u"k") == u"old";
        }
        EXPECT_LT(0u, platform::faultsFired());
        platform::clearFaults();
        EXPECT_EQ(c.ok, ok);
        if (c.write) {
            EXPECT_EQ(c.ok ? "; settings\r\n[s]\r\nk=new\r\n" : old, nxtest::readFileBytes(ini));
        }
        EXPECT_EQ((std::vector<std::string>{"user.ini", "user.ini.lock"}), nxtest::fileNames(dir.path()));
        EXPECT_EQ(fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read,
                  fs::status(ini).permissions());
    }
}

// Runs itself twice as a child (NXTEST_WRITER set), each writing 60 keys of its own and a
// shared one into the same file.
TEST(Profile, TwoProcessesWritingAtOnceLoseNoEntry) {
    if (!kPosixStore)
        GTEST_SKIP() << "concurrent writers are serialised only as far as the system does it";
    if (nxtest::isChildProcess()) {
        const fs::path ini = nxtest::getEnv("NXTEST_INI");
        const std::u16string prefix = u16(nxtest::getEnv("NXTEST_WRITER"));
        for (int i = 0; i < 60; ++i) {
            const std::u16string n = u16(std::to_string(i));
            ASSERT_TRUE(write(ini, u"race", prefix + n, n));
            ASSERT_TRUE(write(ini, u"shared", u"last", prefix + n));
        }
        return;
    }
    nxtest::TempDir dir("profile-race");
    const fs::path ini = dir.path() / "race.ini";
    std::ofstream(ini, std::ios::binary) << "; shared by two writers\n";
    long long child[2];
    for (int w = 0; w < 2; ++w)
        child[w] = nxtest::startSelf("Profile.TwoProcessesWritingAtOnceLoseNoEntry",
                                     {{"NXTEST_INI", ini.string()}, {"NXTEST_WRITER", w ? "b" : "a"}});
    for (long long c : child)
        EXPECT_EQ(0, nxtest::waitChild(c));
    for (const std::string who : {"a", "b"})
        for (int i = 0; i < 60; ++i)
            EXPECT_EQ(u16(std::to_string(i)), read(ini, u"race", u16(who + std::to_string(i))))
                << who << i;
    const std::u16string last = read(ini, u"shared", u"last");
    EXPECT_TRUE(last == u"a59" || last == u"b59");
    EXPECT_EQ(0u, nxtest::readFileBytes(ini).find("; shared by two writers\n"));
}

unsigned int g_now = 0;

// The platform's tick count reads g_now while it lives.
struct ScopedTicks {
    ScopedTicks() { platform::sys().tickCount = [] { return g_now; }; }
    ~ScopedTicks() { platform::clearFaults(); }
};

// Entries that would read back differently (a forged section, a cut key) are refused and the
// file stays byte for byte as it was.
TEST(Profile, RefusesEntriesThatWouldInjectLinesOrBeMisread) {
    if (!kPosixStore)
        GTEST_SKIP() << "the system's profile functions write what they are given";
    nxtest::TempDir dir("profile-inject");
    const fs::path ini = dir.path() / "user.ini";
    const std::string before = "[App]\nname=old\n";
    std::ofstream(ini, std::ios::binary) << before;
    const struct { const char16_t *section, *key, *value; } refused[] = {
        {u"App", u"name", u"x\n[Auth]\ntoken=attacker"}, {u"App", u"name", u"x\r"},
        {u"App\n[Auth", u"k", u"v"}, {u"Auth]x", u"k", u"v"}, {u"App", u"k\nk2", u"v"},
        {u"App", u"a=b", u"v"}, {u"App", u" [x", u"v"},
    };
    for (const auto& c : refused) {
        EXPECT_FALSE(write(ini, c.section, c.key, c.value)) << nxtest::narrow(c.value);
        EXPECT_EQ(before, nxtest::readFileBytes(ini));
    }
    EXPECT_EQ(u"<default>", read(ini, u"Auth", u"token"));
    EXPECT_TRUE(write(ini, u"App", u"name", u"new [x] = y; z"));
    EXPECT_EQ(u"new [x] = y; z", read(ini, u"App", u"name"));
}

TEST(ReplaceFile, TemporaryNamesCarryTheWriterIdInAFixedPattern) {
    const struct { const char16_t* entry; long long pid; } cases[] = {  // pid -1: not a temporary
        {u"user.ini.tmp1234-0123456789abcdef", 1234}, {u"user.ini.tmp4294967295-ffffffffffffffff", 4294967295},
        {u"user.ini.tmp4294967296-ffffffffffffffff", -1}, {u"user.ini.tmp1234-0123456789abcde", -1},
        {u"user.ini.tmp1234-0123456789abcdef0", -1}, {u"user.ini.tmp1234-0123456789ABCDEF", -1},
        {u"user.ini.tmp0123-0123456789abcdef", -1}, {u"user.ini.tmp-0123456789abcdef", -1},
        {u"user.ini.tmp0123456789abcdef", -1}, {u"other.ini.tmp1-0123456789abcdef", -1},
        {u"xuser.ini.tmp1-0123456789abcdef", -1}, {u"user.ini", -1},
    };
    for (const auto& c : cases) {
        unsigned long pid = 0;
        const bool is = platform::temporaryWriter(c.entry, u"user.ini", &pid);
        EXPECT_EQ(c.pid >= 0, is) << nxtest::narrow(c.entry);
        if (is) {
            EXPECT_EQ(static_cast<unsigned long>(c.pid), pid) << nxtest::narrow(c.entry);
        }
    }
}

#if !defined(_WIN32)
// A writer killed mid-write leaves its temporary file; the next write of the same file
// removes those of writers that are gone and nothing else.
TEST(Profile, NextWriteRemovesOnlyTheTemporariesOfDeadWriters) {
    nxtest::TempDir dir("profile-stale");
    long pidMax = 4194304;
    std::ifstream("/proc/sys/kernel/pid_max") >> pidMax;  // ids run below it: no such process
    const std::string dead = std::to_string(pidMax), live = std::to_string(nxtest::selfProcessId());
    const fs::path ini = dir.path() / "user.ini";
    std::ofstream(ini) << "[s]\nk=1\n";
    std::ofstream(dir.path() / "target.txt") << "keep";
    const struct { std::string name; const char* kind; bool stays; } cases[] = {
        {"user.ini.tmp" + dead + "-0123456789abcdef", "file", false},
        {"user.ini.tmp" + dead + "-1111111111111111", "file", false},
        {"user.ini.tmp" + live + "-0123456789abcdef", "file", true},    // a running writer
        {"user.ini.tmp" + dead + "-0123456789abcde", "file", true},     // not the pattern
        {"user.ini.tmp" + dead + "0123456789abcdef", "file", true},
        {"main.ini.tmp" + dead + "-0123456789abcdef", "file", true},    // another file's
        {"user.ini.tmp" + dead + "-fedcba9876543210", "link", true},    // never followed
        {"user.ini.tmp" + dead + "-aaaaaaaaaaaaaaaa", "folder", true},
    };
    for (const auto& c : cases) {
        const fs::path p = dir.path() / c.name;
        if (std::string(c.kind) == "file")
            std::ofstream(p) << "partial";
        else if (std::string(c.kind) == "link")
            fs::create_symlink(dir.path() / "target.txt", p);
        else
            fs::create_directory(p);
    }
    ASSERT_TRUE(write(ini, u"s", u"k", u"2"));
    for (const auto& c : cases)
        EXPECT_EQ(c.stays, fs::exists(fs::symlink_status(dir.path() / c.name))) << c.name;
    EXPECT_EQ("keep", nxtest::readFileBytes(dir.path() / "target.txt"));
    EXPECT_EQ(u"2", read(ini, u"s", u"k"));
}

// New folders and files are the user's alone whatever the umask; an existing file keeps its
// mode across a write.
TEST(Profile, NewFoldersLogsSettingsAndDocumentsArePrivate) {
    const auto mode = [](const fs::path& p) { return static_cast<unsigned>(fs::status(p).permissions()); };
    for (const unsigned mask : {0u, 022u}) {
        SCOPED_TRACE("umask " + std::to_string(mask));
        nxtest::TempDir dir("profile-modes");
        const unsigned old = nxtest::setUmask(mask);
        const fs::path folder = dir.path() / "a" / "b";
        EXPECT_TRUE(platform::createDirectories(folder.u16string().c_str()));
        {
            nxlog::LogFile log;
            EXPECT_TRUE(log.open((folder / "app.log").u16string().c_str()));
        }
        EXPECT_TRUE(write(folder / "user.ini", u"s", u"k", u"v"));
        CMarkup xml;
        xml.AddElem(u"doc");
        EXPECT_TRUE(xml.Save((folder / "doc.xml").u16string()));
        std::ofstream(folder / "shared.ini") << "[s]\n";
        fs::permissions(folder / "shared.ini", static_cast<fs::perms>(0644));
        EXPECT_TRUE(write(folder / "shared.ini", u"s", u"k", u"v"));
        nxtest::setUmask(old);
        EXPECT_EQ(0700u, mode(dir.path() / "a"));
        EXPECT_EQ(0700u, mode(folder));
        for (const char* file : {"app.log", "user.ini", "doc.xml"})
            EXPECT_EQ(0600u, mode(folder / file)) << file;
        EXPECT_EQ(0644u, mode(folder / "shared.ini"));
    }
}

bool noAccount(std::string*) { return false; }
bool emptyAccountHome(std::string* home) { *home = ""; return true; }
bool relativeAccountHome(std::string* home) { *home = "rel/home"; return true; }
bool absoluteAccountHome(std::string* home) { *home = "/abs/home"; return true; }

// Without HOME, XDG folders and a usable account entry the per-user tree has no root: every
// path is empty and nothing is created or stored, instead of a tree at the file-system root.
TEST(UserTree, WithoutAHomeFolderEveryPathIsEmpty) {
    std::vector<std::pair<std::string, std::string>> saved;
    for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_DOCUMENTS_DIR"}) {
        saved.emplace_back(name, nxtest::getEnv(name));
        nxtest::setEnv(name, "");
    }
    const struct { platform::AccountHomeLookup lookup; const char* appData; } cases[] = {
        {noAccount, ""}, {emptyAccountHome, ""}, {relativeAccountHome, ""},
        {absoluteAccountHome, "/abs/home/.config"},
    };
    for (const auto& c : cases) {
        platform::setAccountHomeLookup(c.lookup);
        std::u16string got = u"<untouched>";
        const bool found = platform::specialFolderPath(platform::SpecialFolder::AppData, false, &got);
        EXPECT_EQ(*c.appData != 0, found) << c.appData;
        EXPECT_EQ(*c.appData ? c.appData : "<untouched>", nxtest::narrow(got));
        if (*c.appData)
            continue;
        EXPECT_FALSE(platform::specialFolderPath(platform::SpecialFolder::Documents, true, &got));
        for (const std::u16string& path :
             {pubfunc::getNxAppDataPath(), pubfunc::getUserConfigSavePath(),
              pubfunc::getUserConfigSavePathFile(), pubfunc::getUIConfigureFileName(),
              pubfunc::getMainConfigureFileName(), pubfunc::getCacheDirPath(),
              pubfunc::getLogFileDir(u"grab")})
            EXPECT_EQ("", nxtest::narrow(path));
        std::u16string video = u"<untouched>";
        pubfunc::getDefaultVideoRecordSaveFolder(video);
        EXPECT_EQ(u"<untouched>", video);
        pubfunc::setUserConfigString(u"s", u"k", u"v");
        EXPECT_EQ(u"def", pubfunc::getUserConfigString(u"s", u"k", u"def  "));
    }
    platform::setAccountHomeLookup(nullptr);
    for (const auto& kv : saved)
        nxtest::setEnv(kv.first, kv.second);
}
#endif

TEST(FrameRate, StagesLogOnlyAfterMoreThanTheirIntervalAndCountSeparately) {
    const std::string fps = ":info pubfunc::_updatePublishFPS  ";
    nxtest::TempDir dir("pubfunc-fps");
    ASSERT_TRUE(TRK::TRKLogger::Instance()->InitLog(dir.file("fps.log")));
    const ScopedTicks ticks;
    const auto at = [](unsigned tick, void (*stage)(const std::u16string&), const char16_t* name) {
        g_now = tick;
        stage(name);
    };
    std::size_t seen = 0;
    auto newLines = [&] {  // the lines logged since the last call, from their level marker on
        const std::string all = nxtest::readFileBytes(dir.path() / "fps.log");
        return std::regex_replace(all.substr(std::exchange(seen, all.size())),
                                  std::regex(".*\\] "), "");
    };
    // Capture, 60 s: the first call only starts the interval, and 60000 ms is not more than it.
    for (unsigned i = 0; i <= 600; ++i)
        at(5000 + 100 * i, pubfunc::updatePublishCaptureFPS, u"cap");
    EXPECT_EQ("", newLines());
    at(g_now + 100, pubfunc::updatePublishCaptureFPS, u"cap");
    EXPECT_EQ(fps + "cap AVG_FPS : 10 FPS : 601\r\n", newLines());
    // The next interval starts at the tick read after logging, with the count back at 0.
    at(g_now + 60001, pubfunc::updatePublishCaptureFPS, u"cap");
    EXPECT_EQ(fps + "cap AVG_FPS : 0 FPS : 1\r\n", newLines());

    // The encoder stages: 8 s, averaged over a pause; an empty name stays empty.
    at(1, pubfunc::updateBeforeEncodeFPS, u"enc");
    at(1, pubfunc::updateAfterEncodeFPS, u"");
    at(8001, pubfunc::updateBeforeEncodeFPS, u"enc");
    EXPECT_EQ("", newLines());
    at(1 + 600000, pubfunc::updateBeforeEncodeFPS, u"enc");  // ten minutes later
    at(1 + 600000, pubfunc::updateAfterEncodeFPS, u"");
    EXPECT_EQ(fps + "enc AVG_FPS : 0 FPS : 2\r\n" + fps + " AVG_FPS : 0 FPS : 1\r\n", newLines());

    // Send, 60 s, across a wrap of the tick count; the idle capture stage does not log with it.
    nxpubfunc::resetFrameCounters();
    for (unsigned i = 0; i <= 3001; ++i)
        at(0xFFFFF000u + 20u * i, pubfunc::updatePublishSendFPS, u"send");
    pubfunc::updatePublishCaptureFPS(u"cap");
    EXPECT_EQ(fps + "send AVG_FPS : 50 FPS : 3001\r\n", newLines());
}

}  // namespace
