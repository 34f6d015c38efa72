// codepage_tables_gen: writes src/platform/posix/codepage_tables.inc, the mappings that the
// POSIX code-page converter adds to the system's iconv tables for the pages 1252, 936, 949 and
// 950. Run by scripts/codepage_tables.sh (which also checks that the committed file is what
// this program writes); not part of the library build, since it needs ICU's development files
// and the machine's iconv.
//
// The mapping data is ICU's (Unicode License): its converters "windows-1252",
// "windows-936-2000", "windows-949-2000" and "windows-950-2000", queried through the ICU
// converter API with fallbacks enabled. For each page the program keeps what iconv does not
// convert:
//   decoding  a single byte, or a lead byte with a trail byte of the page's ranges, that iconv
//             refuses and ICU decodes to one BMP character. "Valid" when ICU also encodes that
//             character back to the same bytes (strict decoding accepts it), otherwise
//             "lenient" (the bytes decode to it, but strict decoding still refuses them), as
//             is a single byte that decodes to a private-use character (a stand-in).
//   encoding  a BMP character that iconv refuses and ICU encodes (with its fallbacks) to one
//             or two bytes: "exact" when those bytes decode back to the character, otherwise
//             "best fit" (a look-alike). A best fit onto a C0 control byte or DEL is dropped:
//             it would put a control code into the text in place of a visible character.
// Entries are stored as runs (a key, a value and a count, both rising by one along the run).
//
//   codepage_tables_gen > src/platform/posix/codepage_tables.inc
#include <unicode/ucnv.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iconv.h>
#include <string>
#include <vector>

namespace {

struct Page {
    unsigned cp;
    const char* icuName;
    const char* iconvName;
    unsigned leadLo, leadHi;   // leadHi 0: a single-byte page
    unsigned trail[3][2];      // trail byte ranges; {0, 0} unused
};

const Page kPages[] = {
    {1252, "windows-1252", "CP1252", 0, 0, {}},
    {936, "windows-936-2000", "CP936", 0x81, 0xFE, {{0x40, 0x7E}, {0x80, 0xFE}, {0, 0}}},
    {949, "windows-949-2000", "CP949", 0x81, 0xFE, {{0x41, 0x5A}, {0x61, 0x7A}, {0x81, 0xFE}}},
    {950, "windows-950-2000", "CP950", 0x81, 0xFE, {{0x40, 0x7E}, {0xA1, 0xFE}, {0, 0}}},
};

struct Pair {
    unsigned key, value;
};

bool isTrail(const Page& p, unsigned b) {
    for (const auto& r : p.trail)
        if (r[1] != 0 && b >= r[0] && b <= r[1])
            return true;
    return false;
}

// ICU: the BMP unit the bytes decode to (0 when none or more than one), or the bytes (as a
// number, two-byte sequences lead * 256 + trail) a unit encodes to (0 when none).
class Icu {
public:
    Icu(const char* name, bool fallback) {
        UErrorCode e = U_ZERO_ERROR;
        m_cnv = ucnv_open(name, &e);
        if (U_FAILURE(e)) {
            std::fprintf(stderr, "ICU has no converter %s: %s\n", name, u_errorName(e));
            m_cnv = nullptr;
            return;
        }
        ucnv_setFallback(m_cnv, fallback);
        ucnv_setToUCallBack(m_cnv, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &e);
        ucnv_setFromUCallBack(m_cnv, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &e);
    }
    ~Icu() { if (m_cnv) ucnv_close(m_cnv); }
    bool ok() const { return m_cnv != nullptr; }
    unsigned decode(const char* in, int len) {
        UChar out[4];
        UErrorCode e = U_ZERO_ERROR;
        ucnv_reset(m_cnv);
        int n = ucnv_toUChars(m_cnv, out, 4, in, len, &e);
        return U_SUCCESS(e) && n == 1 && !(out[0] >= 0xD800 && out[0] <= 0xDFFF) ? out[0] : 0;
    }
    unsigned encode(unsigned u) {
        UChar in[1] = {static_cast<UChar>(u)};
        char out[8];
        UErrorCode e = U_ZERO_ERROR;
        ucnv_reset(m_cnv);
        int n = ucnv_fromUChars(m_cnv, out, sizeof out, in, 1, &e);
        if (U_FAILURE(e) || n < 1 || n > 2)
            return 0;
        unsigned v = static_cast<unsigned char>(out[0]);
        return n == 2 ? v << 8 | static_cast<unsigned char>(out[1]) : v;
    }

private:
    UConverter* m_cnv = nullptr;
};

// iconv: whether it converts the bytes, or the unit, at all.
class Iconv {
public:
    Iconv(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
    ~Iconv() { if (ok()) iconv_close(m_cd); }
    bool ok() const { return m_cd != reinterpret_cast<iconv_t>(-1); }
    bool converts(const char* in, std::size_t len) {
        char out[16];
        char* src = const_cast<char*>(in);
        char* dst = out;
        std::size_t room = sizeof out;
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        return iconv(m_cd, &src, &len, &dst, &room) != static_cast<std::size_t>(-1) && len == 0;
    }

private:
    iconv_t m_cd;
};

void writeRuns(const char* name, const std::vector<Pair>& pairs) {
    std::printf("const CodePageRun %s[] = {", name);
    int column = 0;
    std::size_t runs = 0;
    for (std::size_t i = 0; i < pairs.size();) {
        std::size_t j = i + 1;
        while (j < pairs.size() && pairs[j].key == pairs[j - 1].key + 1 &&
               pairs[j].value == pairs[j - 1].value + 1)
            ++j;
        if (column % 6 == 0)
            std::printf("\n   ");
        std::printf(" {0x%04X, 0x%04X, %u},", pairs[i].key, pairs[i].value, static_cast<unsigned>(j - i));
        ++column;
        ++runs;
        i = j;
    }
    if (runs == 0)
        std::printf("{0, 0, 0}");   // an empty table still needs one element; count 0 matches nothing
    std::printf("\n};\n");
}

bool generate(const Page& p) {
    Icu icu(p.icuName, true);
    Icu exact(p.icuName, false);
    Iconv toWide("UTF-16LE", p.iconvName);
    Iconv fromWide(p.iconvName, "UTF-16LE");
    if (!icu.ok() || !exact.ok() || !toWide.ok() || !fromWide.ok()) {
        std::fprintf(stderr, "page %u: a converter is missing\n", p.cp);
        return false;
    }
    std::vector<Pair> valid, lenient, exactEnc, bestFit;
    auto decodeEntry = [&](const char* in, int len, unsigned key) {
        if (toWide.converts(in, static_cast<std::size_t>(len)))
            return;
        unsigned u = icu.decode(in, len);
        if (u == 0)
            return;
        // A single byte decoding to a private-use character is a stand-in, not a character
        // of the page: converted, but refused by strict decoding.
        bool standIn = len == 1 && u >= 0xE000 && u <= 0xF8FF;
        (exact.encode(u) == key && !standIn ? valid : lenient).push_back({key, u});
    };
    for (unsigned b = 0; b < 256; ++b) {
        if (p.leadHi != 0 && b >= p.leadLo && b <= p.leadHi)
            continue;
        const char in[1] = {static_cast<char>(b)};
        decodeEntry(in, 1, b);
    }
    for (unsigned lead = p.leadLo; p.leadHi != 0 && lead <= p.leadHi; ++lead) {
        for (unsigned trail = 0; trail < 256; ++trail) {
            if (!isTrail(p, trail))
                continue;
            const char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
            decodeEntry(in, 2, lead << 8 | trail);
        }
    }
    for (unsigned u = 1; u < 0x10000; ++u) {
        if (u >= 0xD800 && u <= 0xDFFF)
            continue;
        const char in[2] = {static_cast<char>(u & 0xFF), static_cast<char>(u >> 8)};
        if (fromWide.converts(in, 2))
            continue;
        unsigned bytes = icu.encode(u);
        if (bytes == 0)
            continue;
        char back[2];
        int len = bytes > 0xFF ? 2 : 1;
        if (len == 2) {
            back[0] = static_cast<char>(bytes >> 8);
            back[1] = static_cast<char>(bytes & 0xFF);
        } else {
            back[0] = static_cast<char>(bytes);
        }
        bool roundTrip = icu.decode(back, len) == u;
        if (!roundTrip && (bytes < 0x20 || bytes == 0x7F))
            continue;
        (roundTrip ? exactEnc : bestFit).push_back({u, bytes});
    }
    char name[64];
    std::printf("\n// Page %u (ICU \"%s\"): %zu valid and %zu lenient decodings, %zu exact and %zu "
                "best-fit encodings.\n", p.cp, p.icuName, valid.size(), lenient.size(),
                exactEnc.size(), bestFit.size());
    std::snprintf(name, sizeof name, "kDecodeValid%u", p.cp);
    writeRuns(name, valid);
    std::snprintf(name, sizeof name, "kDecodeLenient%u", p.cp);
    writeRuns(name, lenient);
    std::snprintf(name, sizeof name, "kEncodeExact%u", p.cp);
    writeRuns(name, exactEnc);
    std::snprintf(name, sizeof name, "kEncodeBestFit%u", p.cp);
    writeRuns(name, bestFit);
    return true;
}

}  // namespace

int main() {
    std::printf("// Generated by tools/codepages/codepage_tables_gen.cpp (scripts/codepage_tables.sh)\n"
                "// from ICU's converter data (Unicode License); do not edit by hand. Included by\n"
                "// src/platform/posix/codepage_tables.cpp.\n");
    bool ok = true;
    for (const Page& p : kPages)
        ok = generate(p) && ok;
    std::printf("\n#define NX_CODEPAGE_TABLE(cp) \\\n"
                "    {cp, kDecodeValid##cp, std::size(kDecodeValid##cp), kDecodeLenient##cp, \\\n"
                "     std::size(kDecodeLenient##cp), kEncodeExact##cp, std::size(kEncodeExact##cp), \\\n"
                "     kEncodeBestFit##cp, std::size(kEncodeBestFit##cp)}\n"
                "const CodePageTable kCodePageTables[] = {\n"
                "    NX_CODEPAGE_TABLE(1252), NX_CODEPAGE_TABLE(936), NX_CODEPAGE_TABLE(949),\n"
                "    NX_CODEPAGE_TABLE(950),\n"
                "};\n"
                "#undef NX_CODEPAGE_TABLE\n");
    return ok ? 0 : 1;
}
