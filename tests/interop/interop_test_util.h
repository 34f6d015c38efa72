// Helpers of the interop suites: unique block names and fixture paths.
#ifndef NXUTIL_TESTS_INTEROP_UTIL_H
#define NXUTIL_TESTS_INTEROP_UTIL_H

#include "support/child_process.h"

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

namespace interoptest {

/// A block name no other run of the suite uses: "nxtest.<tag>.<pid>.<n>".
inline std::string uniqueName(const std::string& tag) {
    static int counter = 0;
    return "nxtest." + tag + "." + std::to_string(nxtest::selfProcessId()) + "." +
           std::to_string(++counter);
}

/// ASCII text as UTF-16.
inline std::u16string u16(const std::string& s) { return std::u16string(s.begin(), s.end()); }

inline std::u16string fixtureA() { return std::filesystem::path(NXTEST_FIXTURE_A).u16string(); }
inline std::u16string fixtureB() { return std::filesystem::path(NXTEST_FIXTURE_B).u16string(); }

/// Calls `ready` every few milliseconds until it returns true or `seconds` pass.
template <typename F>
bool waitFor(F ready, int seconds = 30) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!ready()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

/// Whether the block `name` is gone (cannot be opened) within a few seconds. A process that
/// ended holding a block releases it as the kernel tears down its memory, which another
/// process reading /proc can delay for a moment after the wait for it returned.
template <typename ShareData>
bool goneSoon(const std::u16string& name) {
    return waitFor([&] {
        ShareData probe;
        return !probe.openSharedFile(name, 1);
    });
}

}  // namespace interoptest

#endif
