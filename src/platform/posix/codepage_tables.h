// Mappings the POSIX code-page converter adds to the system's iconv tables, so that the pages
// 1252, 936, 949 and 950 convert as on Windows where iconv has no mapping: 1252's five
// unassigned bytes, the user-defined and extension areas of the double-byte pages, and the
// look-alike ("best fit") characters written when encoding a character the page lacks.
// The data is generated from ICU's converter tables (tools/codepages/codepage_tables_gen.cpp,
// scripts/codepage_tables.sh) and consulted only where iconv refuses a character, so text that
// iconv converts costs nothing extra.
#ifndef NXUTIL_PLATFORM_POSIX_CODEPAGE_TABLES_H
#define NXUTIL_PLATFORM_POSIX_CODEPAGE_TABLES_H

#include <cstddef>
#include <cstdint>

namespace platform {

/// `count` consecutive keys from `key` map to consecutive values from `value`.
struct CodePageRun {
    std::uint16_t key;
    std::uint16_t value;
    std::uint16_t count;
};

/// One page's additions. Decoding keys are a byte, or lead * 256 + trail; encoding values are
/// a byte (below 0x100) or lead * 256 + trail.
struct CodePageTable {
    unsigned int cp;
    const CodePageRun* decodeValid;     ///< bytes strict decoding accepts
    std::size_t decodeValidRuns;
    const CodePageRun* decodeLenient;   ///< bytes only lenient decoding converts
    std::size_t decodeLenientRuns;
    const CodePageRun* encodeExact;     ///< characters the bytes decode back to
    std::size_t encodeExactRuns;
    const CodePageRun* encodeBestFit;   ///< look-alikes for characters the page lacks
    std::size_t encodeBestFitRuns;
};

/// The additions for `cp`, or null when the page has none.
const CodePageTable* codePageTable(unsigned int cp);

/// The UTF-16 unit that the bytes `key` decode to, or 0 when the table has none (in strict
/// mode only the valid entries count).
char16_t codePageDecode(const CodePageTable& table, unsigned int key, bool strict);

/// The bytes (one below 0x100, else lead * 256 + trail) that `unit` encodes to, or 0 when the
/// table has none; without `bestFit` only exact entries count.
unsigned int codePageEncode(const CodePageTable& table, char16_t unit, bool bestFit);

}  // namespace platform

#endif
