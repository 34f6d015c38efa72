// Helpers shared by the test suites.
#ifndef NXUTIL_TESTS_SUPPORT_H
#define NXUTIL_TESTS_SUPPORT_H

#include <string>

namespace nxtest {

/// A UTF-16 literal as std::string for readable failure messages (ASCII only; others as '?').
std::string narrow(const std::u16string& s);
/// ASCII text as UTF-16, one unit per byte.
std::u16string widen(const std::string& s);

}  // namespace nxtest

#endif
