// Processes seen through real children of this test program (by id and name, several of one
// name, ended ones) and through copies of it named like the master executables.
#include "pubfunc/pubfunc.h"
#include "processes/helpers/host.h"
#include "support/child_process.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <fstream>

struct PubfuncProcessTestAccess {
    static int DebugPrivilege(char16_t* name, int on) { return pubfunc::DebugPrivilege(name, on); }
};

namespace {

namespace fs = std::filesystem;

// How often the snapshot lists `id` under this program's name.
long listedUnderOwnName(unsigned long id) {
    std::vector<std::pair<unsigned long, std::u16string>> all;
    EXPECT_TRUE(pubfunc::getProcessList(all));
    return std::count(all.begin(), all.end(), std::make_pair(id, nxproc::selfName()));
}

// Helper-process bodies: sleeps until stopped, or checks isMasterExe against NX_EXPECT_MASTER.
TEST(ProcessHelper, SleepsOrChecksIsMasterExe) {
    if (!nxtest::isChildProcess())
        GTEST_SKIP() << "helper-process body";
    if (const std::string master = nxtest::getEnv("NX_EXPECT_MASTER"); !master.empty()) {
        EXPECT_EQ(pubfunc::isMasterExe(), master == "1");
    } else {
        nxproc::reportReady(std::to_string(nxtest::selfProcessId()));
        nxproc::waitUntilStopped();
    }
}

TEST(Processes, ThisProcessAndChildrenOfItsNameAreListedUntilTheyExit) {
    EXPECT_EQ(1, listedUnderOwnName(nxtest::selfProcessId())) << nxtest::narrow(nxproc::selfName());
    EXPECT_TRUE(pubfunc::isProcessExist(nxtest::selfProcessId()));
    EXPECT_FALSE(pubfunc::isProcessExist(0xFFFFFFF0UL));

    std::deque<nxproc::Helper> children;
    std::vector<unsigned long> ids;
    for (int i = 0; i < 3; ++i)
        children.emplace_back("ProcessHelper.SleepsOrChecksIsMasterExe");
    for (nxproc::Helper& child : children) {
        const std::string line = child.waitReady();  // then it is surely in the snapshot
        ASSERT_FALSE(line.empty());
        ids.push_back(std::stoul(line));
        EXPECT_TRUE(pubfunc::isProcessExist(ids.back())) << line;
        EXPECT_EQ(1, listedUnderOwnName(ids.back())) << line;
    }
    // Processes of the name (in any letter case) without windows: none is picked, and the
    // window argument keeps its value.
    const HWND unset = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x1234));
    HWND wnd = unset;
    EXPECT_EQ(pubfunc::getProcessIDWnd(nxproc::selfName(true), wnd, u"t"), 0UL);
    EXPECT_EQ(wnd, unset);

    for (std::size_t i = 0; i < ids.size(); ++i) {
        ASSERT_TRUE(children[i].stop());
        EXPECT_FALSE(pubfunc::isProcessExist(ids[i])) << ids[i];
        EXPECT_EQ(0, listedUnderOwnName(ids[i])) << ids[i];
    }
}

TEST(Processes, MasterExecutableIsRecognisedByFileNameInAnyCase) {
    EXPECT_FALSE(pubfunc::isMasterExe());
    // Copies sit next to the test program to find the same libraries; the non-masters differ
    // from a master's name by a letter or a prefix.
    const fs::path self = nxtest::selfExePath();
    const std::pair<const char*, bool> cases[] = {
        {"GrabSvr.exe", true}, {"QX.EXE", true}, {"grabsvr64x.exe", false}, {"my_qx.exe", false}};
    for (const auto& [name, master] : cases) {
        const fs::path copy = self.parent_path() / name;
        std::error_code ec;
        fs::copy_file(self, copy, fs::copy_options::overwrite_existing, ec);
        ASSERT_FALSE(ec) << name << ": " << ec.message();
        const int code = nxtest::waitChild(nxtest::startProgram(copy.string(),
            "ProcessHelper.SleepsOrChecksIsMasterExe", {{"NX_EXPECT_MASTER", master ? "1" : "0"}}));
        fs::remove(copy, ec);
        EXPECT_EQ(code, 0) << name;
    }
}

TEST(Processes, InjectionAndPrivilegesReportPlainResults) {
    EXPECT_FALSE(pubfunc::injectDll(u"grabsvr.exe", u"hook.dll"));
    char16_t unknown[] = u"SeNoSuchPrivilege", debug[] = u"SeDebugPrivilege";
    EXPECT_EQ(PubfuncProcessTestAccess::DebugPrivilege(unknown, 1), 0);
#ifdef _WIN32
    // A privilege the token holds can be switched on and off; one it lacks can be neither.
    const int on = PubfuncProcessTestAccess::DebugPrivilege(debug, 1);
    EXPECT_EQ(PubfuncProcessTestAccess::DebugPrivilege(debug, 0), on);
#else
    // The debug privilege is CAP_SYS_PTRACE (bit 19): raised exactly when the permitted set
    // holds it; dropping it always succeeds.
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line) && line.rfind("CapPrm:", 0) != 0) {
    }
    const int held = static_cast<int>(std::stoull(line.substr(7), nullptr, 16) >> 19 & 1);
    EXPECT_EQ(PubfuncProcessTestAccess::DebugPrivilege(debug, 1), held);
    EXPECT_EQ(PubfuncProcessTestAccess::DebugPrivilege(debug, 0), 1);
    EXPECT_EQ(PubfuncProcessTestAccess::DebugPrivilege(debug, 1), held);
    EXPECT_FALSE(pubfunc::changeUIPIMessageFilter(0x401, true)) << "only Windows has the filter";
#endif
}

}  // namespace
