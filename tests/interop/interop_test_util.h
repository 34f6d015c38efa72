// Helpers of the interop suites: unique block names and fixture paths.
#ifndef NXUTIL_TESTS_INTEROP_UTIL_H
#define NXUTIL_TESTS_INTEROP_UTIL_H

#include "support/child_process.h"

#include <filesystem>
#include <string>

namespace interoptest {

/// ASCII text as UTF-16.
inline std::u16string u16(const std::string& s) { return std::u16string(s.begin(), s.end()); }

/// A block name no other run of the suite uses: "nxtest.<tag>.<pid>.<n>".
inline std::string uniqueName(const std::string& tag) {
    static int counter = 0;
    return "nxtest." + tag + "." + std::to_string(nxtest::selfProcessId()) + "." +
           std::to_string(++counter);
}

inline std::u16string fixtureA() { return std::filesystem::path(NXTEST_FIXTURE_A).u16string(); }
inline std::u16string fixtureB() { return std::filesystem::path(NXTEST_FIXTURE_B).u16string(); }

}  // namespace interoptest

#endif
