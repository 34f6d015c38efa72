// Whole-file reads and writes under failing system calls (scripted through the static archive):
// a failed save leaves the old file byte for byte, its permission bits and no temporary file; a
// failed read leaves the caller's vector as it was; folders, FIFOs and devices are refused.
#include "platform/error.h"
#include "platform/syscalls.h"
#include "pubfunc/pubfunc.h"
#include "support/child_process.h"
#include "support/temp_dir.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <vector>

namespace {

namespace fs = std::filesystem;
using platform::Fault;
using platform::FaultScript;
using platform::SysOp;

const bool kPosix = fs::path::preferred_separator == '/';
const fs::perms kOldPerms = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;

// The open entry of a folder that takes no new file: the writer falls back to rewriting the
// existing file in place.
platform::FileHandle refuseNewFiles(const char16_t* path, platform::FileAccess access) {
    if (access == platform::FileAccess::CreateNew) {
        platform::setLastError(platform::nativeError(Fault::AccessDenied), "open");
        return platform::kNoFile;
    }
    return platform::systemCalls().open(path, access);
}

std::string le(std::uint32_t v, int n) {
    std::string s;
    for (int i = 0; i < n; ++i)
        s += static_cast<char>(v >> 8 * i);
    return s;
}

TEST(FileFaults, FailedSavesKeepTheOldFileWholeAndLeaveNoTemporaryFile) {
    nxtest::TempDir dir("pubfunc-save-faults");
    const fs::path target = dir.path() / "target.bmp";
    const std::string old(100, 'Z');
    // A 640 x 480 picture of 2 bytes over the longer old file: new headers and pixels, old
    // tail. The height is stored negated (top row first), the bit count's low 16 bits only.
    const std::string bitmap = "BM" + le(56, 4) + le(0, 4) + le(54, 4) + le(40, 4) + le(640, 4) +
                               le(0u - 480, 4) + le(1, 2) + le(16, 2) + std::string(24, '\0') +
                               "\xAA\xBB" + std::string(44, 'Z');
    const struct {
        const char* name;
        std::function<bool()> save;
        std::string saved;
    } writers[] = {
        {"saveAsBMP", [&] {
             return pubfunc::saveAsBMP("\xAA\xBB", 2, 640, 480, 0x12340010, target.u16string().c_str());
         }, bitmap},
        {"saveBinaryFile", [&] { return pubfunc::saveBinaryFile(target.u16string(), "fresh", 5); },
         "fresh"},
    };
    const struct {
        const char* what;
        std::vector<FaultScript> faults;
        bool inPlace;         // the folder takes no new file
        bool savedBmp, savedBinary;
        const char16_t* why;  // part of lastFileError() after a failure
    } rows[] = {
        {"no fault", {}, false, true, true, u""},
        {"disk full", {{SysOp::Write, Fault::NoSpace}}, false, false, false, u"write"},
        {"device error on write", {{SysOp::Write, Fault::IoError}}, false, false, false, u"write"},
        {"short writes are finished", {{SysOp::Write, Fault::Short, 1, 0, 3}}, false, true, true, u""},
        {"interrupted writes are retried", {{SysOp::Write, Fault::Interrupted, 1, 4}}, false, true,
         true, u""},
        {"flush fails", {{SysOp::Flush, Fault::IoError}}, false, false, false, u"flush"},
        {"rename refused", {{SysOp::Rename, Fault::AccessDenied}}, false, false, false, u"rename"},
        {"nothing opens", {{SysOp::Open, Fault::AccessDenied, 1, 0}}, false, false, false, u"open"},
        // The probe for writing (without sharing) fails: a write-protected or held file.
        {"file not writable", {{SysOp::Open, Fault::AccessDenied, 2}}, false, false, false, u"open"},
        {"not a regular file", {{SysOp::Status, Fault::NotRegular}}, false, false, false,
         u"not a regular file"},
        {"status fails", {{SysOp::Status, Fault::IoError}}, false, false, false, u"status"},
        // saveAsBMP builds the complete contents in one buffer; saveBinaryFile needs none.
        {"no memory", {{SysOp::Allocate, Fault::NoMemory, 1, 0}}, false, false, true, u""},
        {"in place", {}, true, true, true, u""},
        {"in place, disk full", {{SysOp::Write, Fault::NoSpace}}, true, false, false, u"write"},
    };
    for (const auto& w : writers) {
        for (const auto& r : rows) {
            SCOPED_TRACE(std::string(w.name) + ": " + r.what);
            std::ofstream(target, std::ios::binary) << old;
            if (kPosix)
                fs::permissions(target, kOldPerms);
            bool ok;
            {
                if (r.inPlace)
                    platform::sys().open = refuseNewFiles;
                platform::ScopedFault faults(r.faults.data(), r.faults.data() + r.faults.size());
                ok = w.save();
                // (saveBinaryFile allocates nothing of its own: no fault to fire there)
                if (!r.faults.empty() && !(ok && r.faults[0].op == SysOp::Allocate)) {
                    EXPECT_GT(platform::faultsFired(), 0u);
                }
            }
            EXPECT_EQ(&w == &writers[0] ? r.savedBmp : r.savedBinary, ok);
            if (ok || !r.inPlace) {  // only a failed rewrite in place may cut the file
                EXPECT_EQ(ok ? w.saved : old, nxtest::readFileBytes(target));
            }
            if (!ok) {
                EXPECT_NE(std::u16string::npos, pubfunc::lastFileError().find(r.why))
                    << nxtest::narrow(pubfunc::lastFileError());
            }
            EXPECT_EQ(std::vector<std::string>{"target.bmp"}, nxtest::fileNames(dir.path()));
            if (kPosix) {
                EXPECT_EQ(kOldPerms, fs::status(target).permissions() & fs::perms::all);
            }
        }
    }
}

TEST(FileFaults, FailedReadsLeaveTheVectorAsItWas) {
    nxtest::TempDir dir("pubfunc-load-faults");
    const fs::path file = dir.path() / "data.bin";
    std::string content(70000, '\0');
    for (std::size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i * 13);
    std::ofstream(file, std::ios::binary) << content;
    const std::vector<char> keep = {'k', 'e', 'e', 'p'};
    // A mapping that fails sends the reader to read() into a buffer of its own.
    const FaultScript noMap{SysOp::MapView, Fault::NoMemory, 1, 0};
    const struct {
        const char* what;
        std::vector<FaultScript> faults;
        bool read;
    } rows[] = {
        {"mapped", {}, true},
        {"read", {noMap}, true},
        {"short reads are finished", {noMap, {SysOp::Read, Fault::Short, 1, 0, 999}}, true},
        {"interrupted reads are retried", {noMap, {SysOp::Read, Fault::Interrupted, 1, 3}}, true},
        {"cannot open", {{SysOp::Open, Fault::AccessDenied}}, false},
        {"not a regular file", {{SysOp::Status, Fault::NotRegular}}, false},
        {"status fails", {{SysOp::Status, Fault::IoError}}, false},
        {"device error on read", {noMap, {SysOp::Read, Fault::IoError}}, false},
        {"no memory for the buffer", {noMap, {SysOp::Allocate, Fault::NoMemory, 1, 0}}, false},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        std::vector<char> bytes = keep;
        bool ok;
        {
            platform::ScopedFault faults(r.faults.data(), r.faults.data() + r.faults.size());
            ok = pubfunc::loadBinaryFile(file.u16string(), bytes);
            EXPECT_TRUE(r.faults.empty() || platform::faultsFired() > 0);
        }
        EXPECT_EQ(r.read, ok);
        EXPECT_TRUE(r.read ? std::string(bytes.begin(), bytes.end()) == content : bytes == keep);
        EXPECT_TRUE(ok || !pubfunc::lastFileError().empty());
    }
}

TEST(FileFaults, FoldersFifosAndDevicesAreRefusedWithoutBlocking) {
    nxtest::TempDir dir("pubfunc-not-regular");
    const fs::path folder = dir.path() / "folder", fifo = dir.path() / "fifo";
    fs::create_directory(folder);
    const bool fifos = nxtest::makeFifo(fifo.string());
    // Each reader or writer below would block or never end if it took the path for a file;
    // the check runs on a thread of its own so that such a regression fails instead of hanging.
    auto refused = std::async(std::launch::async, [&] {
        std::vector<fs::path> paths = {folder};
        if (fifos)
            paths.insert(paths.end(), {fifo, "/dev/zero"});
        int refusals = 0;
        for (const fs::path& p : paths) {
            std::vector<char> bytes;
            // (a Windows folder does not even open: another message)
            refusals += !pubfunc::loadBinaryFile(p.u16string(), bytes) &&
                        (!fifos || pubfunc::lastFileError() == u"not a regular file");
            if (p == "/dev/zero")
                continue;  // never a target: writing a device is no test's business
            refusals += !pubfunc::saveAsBMP("\x01", 1, 1, 1, 8, p.u16string().c_str());
            refusals += !pubfunc::saveBinaryFile(p.u16string(), "x", 1);
        }
        return refusals == static_cast<int>(paths.size() * 3 - (fifos ? 2 : 0));
    });
    if (refused.wait_for(std::chrono::minutes(2)) != std::future_status::ready) {
        std::fprintf(stderr, "a reader or writer blocked on a folder, FIFO or device\n");
        std::_Exit(1);
    }
    EXPECT_TRUE(refused.get());
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_TRUE(fs::is_empty(folder));
    if (!fifos) {
        GTEST_SKIP() << "no FIFOs in this file system: folders only";
    }
    EXPECT_TRUE(fs::is_fifo(fifo));
    EXPECT_EQ((std::vector<std::string>{"fifo", "folder"}), nxtest::fileNames(dir.path()));
}

// The demo folder's creator: each call makes a folder that did not exist before, private to
// its owner, under $TMPDIR; a temporary folder that is missing or a file gives an empty path
// and a reason, never a folder somewhere else (such as the root).
TEST(FileFaults, PrivateFoldersAreNewOwnerOnlyAndFailWithAReason) {
    if (!kPosix) {
        GTEST_SKIP() << "the temporary folder of Windows comes from the system, not $TMPDIR";
    }
    nxtest::TempDir dir("pubfunc-private-folder");
    std::ofstream(dir.path() / "file") << "x";
    const std::string savedTmp = nxtest::getEnv("TMPDIR");
    const struct {
        const char* name;
        std::string tmpdir;
        bool created;
        const char16_t* why;  // part of lastFileError() after a failure
    } rows[] = {
        {"temporary folder", dir.path().string(), true, u""},
        {"with a closing separator", dir.path().string() + "/", true, u""},
        {"missing temporary folder", (dir.path() / "missing").string(), false, u"mkdir"},
        {"temporary folder is a file", (dir.path() / "file").string(), false, u"mkdir"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        nxtest::setEnv("TMPDIR", r.tmpdir);
        const std::u16string first = pubfunc::createPrivateFolder(u"nxtool-demo-");
        const std::u16string second = pubfunc::createPrivateFolder(u"nxtool-demo-");
        EXPECT_EQ(r.created, !first.empty());
        if (!r.created) {
            EXPECT_NE(std::u16string::npos, pubfunc::lastFileError().find(r.why))
                << nxtest::narrow(pubfunc::lastFileError());
            continue;
        }
        EXPECT_NE(first, second);
        for (const fs::path& p : {fs::path(first), fs::path(second)}) {
            EXPECT_EQ(dir.path(), p.parent_path());
            EXPECT_EQ(0u, p.filename().string().rfind("nxtool-demo-", 0));
            EXPECT_EQ(std::string("nxtool-demo-XXXXXX").size(), p.filename().string().size());
            EXPECT_TRUE(fs::is_directory(fs::symlink_status(p)));
            EXPECT_TRUE(fs::is_empty(p));
            EXPECT_EQ(fs::perms::owner_all, fs::status(p).permissions() & fs::perms::all);
            fs::remove(p);
        }
    }
    nxtest::setEnv("TMPDIR", savedTmp);
}

}  // namespace
