// codepage_dump: writes what the library's code-page functions answer for every single byte,
// every two-byte sequence that begins with a byte 81..FE, and every BMP character of one code
// page, one line each:
//   D <bytes> <units or "-"> <1 when strict decoding accepts the bytes, else 0>
//   E <unit> <bytes or "-"> <1 when the default character was used, else 0>
// Built for Windows it records the system's answers (run under Wine on the Windows leg); built
// for POSIX it records this library's. scripts/codepage_compare.py counts what differs.
//
//   codepage_dump <code page> > dump.txt
#include "platform/codepage.h"

#include <cstdio>
#include <cstdlib>
#include <string>

using namespace platform;

namespace {

std::string hexUnits(const char16_t* u, int n) {
    std::string s;
    char buf[8];
    for (int i = 0; i < n; ++i) {
        std::snprintf(buf, sizeof buf, i ? ".%04X" : "%04X", static_cast<unsigned>(u[i]));
        s += buf;
    }
    return n > 0 ? s : "-";
}

std::string hexBytes(const char* b, int n) {
    std::string s;
    char buf[4];
    for (int i = 0; i < n; ++i) {
        std::snprintf(buf, sizeof buf, "%02X", static_cast<unsigned>(static_cast<unsigned char>(b[i])));
        s += buf;
    }
    return n > 0 ? s : "-";
}

void decodeLine(unsigned cp, const char* in, int len) {
    char16_t out[8];
    int n = multiByteToWideChar(cp, 0, in, len, out, 8);
    int strict = multiByteToWideChar(cp, kMbErrInvalidChars, in, len, out + 4, 4);
    std::printf("D %s %s %d\n", hexBytes(in, len).c_str(), hexUnits(out, n).c_str(), strict > 0 ? 1 : 0);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: codepage_dump <code page>\n");
        return 2;
    }
    const unsigned cp = static_cast<unsigned>(std::strtoul(argv[1], nullptr, 10));
    for (unsigned b = 0; b < 256; ++b) {
        const char in[1] = {static_cast<char>(b)};
        decodeLine(cp, in, 1);
    }
    if (cp != kCodePageUtf8) {
        for (unsigned first = 0x81; first <= 0xFE; ++first) {
            for (unsigned second = 0; second < 256; ++second) {
                const char in[2] = {static_cast<char>(first), static_cast<char>(second)};
                decodeLine(cp, in, 2);
            }
        }
    }
    for (unsigned u = 0; u < 0x10000; ++u) {
        if (u >= 0xD800 && u <= 0xDFFF)
            continue;
        const char16_t in[1] = {static_cast<char16_t>(u)};
        char out[8];
        bool used = false;
        int n = cp == kCodePageUtf8 ? wideCharToMultiByte(cp, 0, in, 1, out, 8, nullptr, nullptr)
                                    : wideCharToMultiByte(cp, 0, in, 1, out, 8, nullptr, &used);
        std::printf("E %04X %s %d\n", u, hexBytes(out, n).c_str(), used ? 1 : 0);
    }
    return 0;
}
