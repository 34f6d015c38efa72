// Helpers of the interop suites: unique block names and fixture paths.
#ifndef NXUTIL_TESTS_INTEROP_UTIL_H
#define NXUTIL_TESTS_INTEROP_UTIL_H

#include "support/child_process.h"
#include "support/test_support.h"

#include <filesystem>
#include <string>

namespace interoptest {

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
