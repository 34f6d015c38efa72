// The platform services under the interop classes: shared-memory names, planted objects,
// failing system calls, module paths, and nothing left mapped after many loads and mappings.
#include "interop/interop.h"
#include "interop_test_util.h"
#include "platform/dl.h"
#include "platform/error.h"
#include "platform/shm.h"
#include "platform/syscalls.h"
#ifndef _WIN32
#include "platform/posix/shm_name.h"
#endif

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

using interoptest::uniqueName;
using nxtest::widen;
using platform::Fault;
using platform::FaultScript;
using platform::ScopedFault;
using platform::SysOp;

namespace {

namespace fs = std::filesystem;

// The descriptors the process has open (POSIX), to see that a failure leaks none; -1 on
// Windows, where Wine would show the folder of its own host process.
long openDescriptors() {
#ifdef _WIN32
    return -1;
#else
    std::error_code ec;
    auto it = fs::directory_iterator("/proc/self/fd", ec);
    return ec ? -1 : static_cast<long>(std::distance(it, fs::directory_iterator()));
#endif
}

#ifndef _WIN32
// A status entry that reports the file's last name gone for its first `vanishing` calls (-1:
// always), as a block removed between an opener's lookup and its lock looks.
int g_vanishing = 0;
unsigned g_statusCalls = 0;
bool statusOfVanishedBlock(platform::FileHandle file, platform::FileStatus& out) {
    ++g_statusCalls;
    if (!platform::systemCalls().status(file, out))
        return false;
    if (g_vanishing < 0 || static_cast<int>(g_statusCalls) <= g_vanishing)
        out.links = 0;
    return true;
}
#endif

// A module-name entry whose buffer must hold 1024 bytes before it answers: callers grow theirs.
long long moduleFileNameNeedingRoom(platform::Module* module, char* buffer, std::size_t size) {
    return size < 1024 ? static_cast<long long>(size)
                       : platform::systemCalls().moduleFileName(module, buffer, size);
}

#ifndef _WIN32
// The object name of a block, as a file of /dev/shm.
std::string shmFile(const std::u16string& name) {
    return "/dev/shm" + platform::shmSystemName(name);
}

TEST(ShmPlatform, MapsBlockNamesToObjectNamesOneToOne) {
    // Names without a prefix belong to the user's namespace "/nxshm.u<uid>.", as "Local\".
    std::string user = platform::shmSystemName(u"x");
    user.pop_back();
    ASSERT_EQ(0u, user.find("/nxshm.u"));
    EXPECT_EQ(user.size() - 1, user.find_first_not_of("0123456789", 8));
    const struct { const char16_t* name; bool global; const char* system; } cases[] = {
        {u"cap.frame", false, "cap.frame"},        {u"Local\\cap.frame", false, "cap.frame"},
        {u"Global\\cap.frame", true, "cap.frame"}, {u"Session\\1\\x", false, "Session\\1\\x"},
        {u"a/b%c", false, "a%2Fb%25c"},            {u"a%2Fb", false, "a%252Fb"},
        {u"tab\there", false, "tab%09here"},       {u"\u00e9t\u00e9", false, "\xC3\xA9t\xC3\xA9"},
        {u"a~1", false, "a%7E1"},                  {u"Global\\Local\\x", true, "Local\\x"},
        {u"Local\\Global\\x", false, "Global\\x"}, {u"Global\\~", true, "%7E"},
    };
    for (const auto& c : cases)
        EXPECT_EQ((c.global ? std::string("/nxshm.g.") : user) + c.system,
                  platform::shmSystemName(c.name)) << c.system;
    // Long names are cut to the start, '~' and a 128-bit hash of the whole name.
    std::u16string longA(400, u'a'), longB = longA;
    longB.back() = u'b';
    const std::string a = platform::shmSystemName(longA);
    EXPECT_EQ(233u, a.size());
    EXPECT_EQ(200u, a.find('~'));
    EXPECT_NE(a, platform::shmSystemName(longB));
    EXPECT_NE(platform::shmSystemName(u"Global\\" + longA).substr(200), a.substr(200));
    // The cut never splits an escape: "%2F" straddling the 200th byte is dropped whole.
    const std::size_t before = 198 - user.size();
    const std::u16string straddling =
        std::u16string(before, u'a') + u"/" + std::u16string(100, u'b');
    EXPECT_EQ(user + std::string(before, 'a') + "~",
              platform::shmSystemName(straddling).substr(0, 199));
    EXPECT_EQ(0u, a.find(user + "aaaa"));
    // No short name spells a cut long one: the cut name's text opens no block of its own.
    const std::u16string longName(300, u'q');
    const std::string cut = platform::shmSystemName(longName);
    const std::u16string spelling = widen(cut.substr(user.size()));
    EXPECT_NE(cut, platform::shmSystemName(spelling));
    {
        CShareData owner, other;
        ASSERT_TRUE(owner.createSharedFile(longName, 8));
        EXPECT_FALSE(other.openSharedFile(spelling, 8));
    }
    // A long name and one with a slash work end to end.
    for (const std::u16string& name : {longB, std::u16string(u"nxtest/slash%~")}) {
        CShareData x, y;
        ASSERT_TRUE(x.createSharedFile(name, 8));
        x.getSharedData()[0] = 5;
        ASSERT_TRUE(y.openSharedFile(name, 8));
        EXPECT_EQ(5, y.getSharedData()[0]);
    }
}

// An object planted under a block's name, another user's or open to others, is refused on
// create and on open and left where it is: whoever planted it may read what we write.
TEST(ShmPlatform, RefusesObjectsOfOtherUsersOrOpenToOthersAndCreatesItsOwnPrivate) {
    {
        const std::u16string name = widen(uniqueName("private"));
        CShareData own;
        ASSERT_TRUE(own.createSharedFile(name, 8));
        EXPECT_EQ(fs::perms(0600), fs::status(shmFile(name)).permissions() & fs::perms::all);
    }
    // otherUser: the object is given to "nobody" (uid 65534), which needs root.
    const struct { const char* what; const char* prefix; int mode; bool otherUser, accepted; }
        cases[] = {
        {"open to all", "Local\\", 0666, false, false},
        {"group may read", "", 0640, false, false},
        {"others may write, global", "Global\\", 0602, false, false},
        {"own and private", "Local\\", 0600, false, true},
        {"own and private, machine-wide", "Global\\", 0600, false, true},
        {"another user's", "Local\\", 0600, true, false},
        {"another user's, machine-wide", "Global\\", 0600, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.otherUser && !nxtest::runningAsRoot()) {
            std::printf("skipped \"%s\": giving an object to another user needs root\n", c.what);
            continue;
        }
        const std::u16string name = widen(c.prefix + uniqueName("squat"));
        const std::string path = shmFile(name);
        std::ofstream(path, std::ios::binary) << std::string(64, '\0');
        fs::permissions(path, fs::perms(c.mode));
        ASSERT_TRUE(!c.otherUser || nxtest::changeOwner(path, 65534));
        platform::ShmObject* opened = platform::shmOpen(name);
        if (!c.accepted) {
            EXPECT_EQ(nullptr, opened);
            EXPECT_EQ(EACCES, platform::lastError().code);
            EXPECT_EQ(nullptr, platform::shmCreate(name, 64));
            EXPECT_EQ(EACCES, platform::lastError().code);
            CShareData x;
            EXPECT_FALSE(x.createSharedFile(name, 64));
            EXPECT_FALSE(x.openSharedFile(name, 64));
            EXPECT_TRUE(fs::exists(path));
        }
        platform::shmClose(opened);  // an unheld own object was taken as remains and removed
        platform::ShmObject* created = platform::shmCreate(name, 64);
        EXPECT_EQ(c.accepted, created != nullptr);
        platform::shmClose(created);
        fs::remove(path);
    }
}
#endif

TEST(ShmPlatform, RefusesDegenerateRequestsAndReportsAnExistingBlock) {
    EXPECT_EQ(nullptr, platform::shmCreate(widen(uniqueName("zero")), 0));
    EXPECT_EQ(nullptr, platform::shmMap(nullptr, 8));
#ifndef _WIN32
    for (const char16_t* bare : {u"Local\\", u"Global\\"}) {
        EXPECT_EQ(nullptr, platform::shmCreate(bare, 8));
        EXPECT_EQ(nullptr, platform::shmOpen(bare));
        EXPECT_EQ(EINVAL, platform::lastError().code);
    }
#endif
    bool existed[2] = {true, false};
    const std::u16string name = widen(uniqueName("existed"));
    platform::ShmObject* objects[2] = {platform::shmCreate(name, 8, &existed[0]),
                                       platform::shmCreate(name, 8, &existed[1])};
    ASSERT_TRUE(objects[0] && objects[1]);
    EXPECT_FALSE(existed[0]);
    EXPECT_TRUE(existed[1]);
    void* whole = platform::shmMap(objects[1], 0);  // 0: the whole block
    EXPECT_NE(nullptr, whole);
    platform::shmUnmap(whole);
    platform::shmClose(objects[1]);
    platform::shmClose(objects[0]);
}

TEST(ShmPlatform, FailingSystemCallsGiveNullAndLeaveNoNameOrDescriptorBehind) {
    enum Action { Create, OpenHeld, Map };
    // succeeds: an interruption is retried; call: what lastError names; posixOnly: no Win32 step.
    const struct { const char* what; FaultScript fault; Action action; bool succeeds;
                   const char* call; bool posixOnly; } cases[] = {
        {"create refused", {SysOp::OpenSharedMemory, Fault::AccessDenied}, Create, false, "shm_open", false},
        {"open refused", {SysOp::OpenSharedMemory, Fault::AccessDenied}, OpenHeld, false, "shm_open", false},
        {"view refused", {SysOp::MapShared, Fault::NoMemory}, Map, false, "shm_map", false},
        {"size refused", {SysOp::Resize, Fault::NoSpace}, Create, false, "resize", true},
        {"hold refused", {SysOp::LockFirstByte, Fault::IoError}, Create, false, "lock", true},
        {"hold interrupted", {SysOp::LockFirstByte, Fault::Interrupted, 1, 2}, OpenHeld, true, "", true},
        {"status refused", {SysOp::Status, Fault::IoError}, Create, false, "status", true},
        {"status refused to a view", {SysOp::Status, Fault::IoError}, Map, false, "status", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.posixOnly && fs::path::preferred_separator == '\\')
            continue;
        const std::u16string name = widen(uniqueName("fault"));
        // OpenHeld and Map work on a block another holder keeps.
        platform::ShmObject* holder = c.action == Create ? nullptr : platform::shmCreate(name, 64);
        ASSERT_TRUE(c.action == Create || holder);
        const long descriptors = openDescriptors();
        platform::ShmObject* object = nullptr;
        void* view = nullptr;
        {
            ScopedFault fault(c.fault);
            if (c.action == Map)
                view = platform::shmMap(holder, 64);
            else
                object = c.action == Create ? platform::shmCreate(name, 64) : platform::shmOpen(name);
            EXPECT_GT(platform::faultsFired(), 0u);
            if (!c.succeeds) {
                EXPECT_STREQ(c.call, platform::lastError().call);
            }
        }
        EXPECT_EQ(c.succeeds, object != nullptr || view != nullptr);
        platform::shmUnmap(view);  // null after a failure: ignored
        platform::shmClose(object);
        if (c.action == Map) {  // the hold is intact: the next view works
            view = platform::shmMap(holder, 64);
            EXPECT_NE(nullptr, view);
            platform::shmUnmap(view);
        }
        EXPECT_EQ(descriptors, openDescriptors());
        platform::shmClose(holder);
        // Nothing is left under the name.
        platform::ShmObject* left = platform::shmOpen(name);
        EXPECT_EQ(nullptr, left);
        platform::shmClose(left);
    }
}

#ifndef _WIN32
TEST(ShmPlatform, AnOpenerRetriesABlockThatLostItsNameAndGivesUpAfterBoundedRounds) {
    const std::u16string name = widen(uniqueName("vanish"));
    platform::ShmObject* holder = platform::shmCreate(name, 16);
    ASSERT_NE(nullptr, holder);
    const struct { int vanishing; bool opens; unsigned statusCalls; } cases[] = {
        {1, true, 2}, {3, true, 4}, {-1, false, 2000}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.vanishing);
        g_vanishing = c.vanishing;
        g_statusCalls = 0;
        const long descriptors = openDescriptors();
        platform::sys().status = statusOfVanishedBlock;
        platform::ShmObject* object = platform::shmOpen(name);
        platform::clearFaults();
        EXPECT_EQ(c.opens, object != nullptr);
        EXPECT_EQ(c.statusCalls, g_statusCalls);
        if (!c.opens) {
            EXPECT_EQ(EAGAIN, platform::lastError().code);
            EXPECT_STREQ("shm_open", platform::lastError().call);
        }
        platform::shmClose(object);
        EXPECT_EQ(descriptors, openDescriptors());
    }
    // Views and holds given back twice are ignored.
    void* view = platform::shmMap(holder, 16);
    ASSERT_NE(nullptr, view);
    platform::shmUnmap(view);
    platform::shmUnmap(view);
    platform::shmClose(holder);
    platform::shmClose(holder);
    EXPECT_EQ(nullptr, platform::shmOpen(name));
}
#endif

TEST(DlPlatform, NamesTheFilesOfLoadedModulesAndAThousandLoadsAndMappingsLeaveNothingMapped) {
    const std::u16string exe = platform::executablePath();
    EXPECT_TRUE(fs::exists(fs::path(exe)));
    EXPECT_EQ(exe, platform::modulePath(reinterpret_cast<const void*>(&openDescriptors)));
    EXPECT_TRUE(platform::modulePath(nullptr).empty());
    platform::Module* m = platform::dlLoad(interoptest::fixtureA());
    ASSERT_NE(nullptr, m);
    auto address = reinterpret_cast<const void* (*)()>(platform::dlSymbol(m, "nxfixture_address"));
    ASSERT_NE(nullptr, address);
    EXPECT_TRUE(fs::equivalent(fs::path(platform::modulePath(address())), fs::path(NXTEST_FIXTURE_A)));
    EXPECT_TRUE(platform::dlFree(m));

    EXPECT_EQ(nullptr, platform::dlSymbol(nullptr, "nxfixture_address"));
    EXPECT_FALSE(platform::dlFree(nullptr));
    EXPECT_EQ(nullptr, platform::dlAddRef(nullptr));
    // The module-name step failing or wanting a larger buffer.
    m = platform::dlLoad(interoptest::fixtureA());
    ASSERT_NE(nullptr, m);
    {
        ScopedFault fault({SysOp::ModuleFileName, Fault::IoError, 1, 0});
        EXPECT_TRUE(platform::executablePath().empty());
        EXPECT_STREQ("module_name", platform::lastError().call);
#ifndef _WIN32  // Win32 takes the reference from the module's address, not its name
        EXPECT_EQ(nullptr, platform::dlAddRef(m));
        EXPECT_STREQ("module_name", platform::lastError().call);
#endif
    }
    platform::sys().moduleFileName = moduleFileNameNeedingRoom;
    EXPECT_EQ(exe, platform::executablePath());
    platform::Module* again = platform::dlAddRef(m);
    platform::clearFaults();
    EXPECT_EQ(m, again);
    EXPECT_TRUE(platform::dlFree(again));
    EXPECT_TRUE(platform::dlFree(m));  // the last reference: the fixture goes
    EXPECT_EQ(nullptr, platform::dlFind(interoptest::fixtureA()));

    const std::u16string name = widen(uniqueName("cycles"));
    auto cycle = [&] {
        CDLLHelper a, adopted;
        a.LoadDll(interoptest::fixtureA());
        adopted.FindDll(interoptest::fixtureA());
        CDLLHelper copy(a);
        a.LoadDll(interoptest::fixtureB());
        CShareData shm;
        shm.createSharedFile(name, 4096);
        shm.getSharedData()[4095] = 1;
    };
    cycle();  // first use of every code path
    const std::size_t before = nxtest::mappedFileRegions();
    ASSERT_GT(before, 0u);
    for (int i = 0; i < 1000; ++i)
        cycle();
    EXPECT_EQ(before, nxtest::mappedFileRegions());
    EXPECT_FALSE(CDLLHelper().FindDll(interoptest::fixtureA()));
    EXPECT_FALSE(CDLLHelper().FindDll(interoptest::fixtureB()));
    EXPECT_FALSE(CShareData().openSharedFile(name, 1));
}

}  // namespace
