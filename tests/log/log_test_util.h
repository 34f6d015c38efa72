// Reading log files back in the logger suites.
#ifndef NXUTIL_TESTS_LOG_TEST_UTIL_H
#define NXUTIL_TESTS_LOG_TEST_UTIL_H

#include "support/temp_dir.h"

#include <string>
#include <vector>

namespace logtest {

/// The file's text split after every CR LF; a tail without CR LF is the last element.
inline std::vector<std::string> lines(const std::u16string& path) {
    const std::string all = nxtest::readFileBytes(std::filesystem::path(path));
    std::vector<std::string> out;
    std::size_t p = 0;
    while (p < all.size()) {
        const std::size_t e = all.find("\r\n", p);
        if (e == std::string::npos) {
            out.push_back(all.substr(p));
            break;
        }
        out.push_back(all.substr(p, e + 2 - p));
        p = e + 2;
    }
    return out;
}

/// The text after the process id's "] " of a line: the marker, the message and the line end.
inline std::string body(const std::string& line) {
    const std::size_t p = line.find("] ");
    return p == std::string::npos ? std::string() : line.substr(p + 2);
}

}  // namespace logtest

#endif
