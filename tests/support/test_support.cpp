#include "support/test_support.h"

namespace nxtest {

std::string narrow(const std::u16string& s) {
    std::string out;
    out.reserve(s.size());
    for (char16_t c : s)
        out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

}  // namespace nxtest
