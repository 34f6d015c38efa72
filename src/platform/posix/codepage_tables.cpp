// Lookup in the generated code-page additions (codepage_tables.inc): sorted runs, found by
// binary search.
#include "platform/posix/codepage_tables.h"

#include <algorithm>
#include <iterator>

namespace platform {

namespace {

#include "platform/posix/codepage_tables.inc"

// The value for `key` in runs sorted by key, or 0.
unsigned int find(const CodePageRun* runs, std::size_t n, unsigned int key) {
    const CodePageRun* end = runs + n;
    const CodePageRun* next = std::upper_bound(runs, end, key, [](unsigned int k, const CodePageRun& r) {
        return k < r.key;
    });
    if (next == runs)
        return 0;
    const CodePageRun& run = next[-1];
    return key - run.key < run.count ? run.value + (key - run.key) : 0;
}

}  // namespace

const CodePageTable* codePageTable(unsigned int cp) {
    for (const CodePageTable& t : kCodePageTables)
        if (t.cp == cp)
            return &t;
    return nullptr;
}

char16_t codePageDecode(const CodePageTable& table, unsigned int key, bool strict) {
    unsigned int unit = find(table.decodeValid, table.decodeValidRuns, key);
    if (unit == 0 && !strict)
        unit = find(table.decodeLenient, table.decodeLenientRuns, key);
    return static_cast<char16_t>(unit);
}

unsigned int codePageEncode(const CodePageTable& table, char16_t unit, bool bestFit) {
    unsigned int bytes = find(table.encodeExact, table.encodeExactRuns, unit);
    if (bytes == 0 && bestFit)
        bytes = find(table.encodeBestFit, table.encodeBestFitRuns, unit);
    return bytes;
}

}  // namespace platform
