// Code-page conversion for POSIX with the results of the Win32 functions.
//
// UTF-8 goes to the code shared with the Windows backend (platform/codepage_utf8.h). The
// "ANSI", "OEM" and thread code pages are UTF-8 here. Every other page goes through iconv with
// the descriptor cached per thread (an iconv_t is not safe to share); for the double-byte
// pages, invalid input is delimited by the pages' lead and trail byte ranges, not by where iconv
// stops.
//
// Where iconv refuses a character, the generated tables of codepage_tables.h may still convert
// it (user-defined areas, best-fit look-alikes) before it counts as invalid.
//
// Sections: iconv; the two entry points.
#include "platform/codepage.h"
#include "platform/codepage_utf8.h"
#include "platform/error.h"
#include "platform/posix/codepage_tables.h"
#include "platform/posix/posix_support.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iconv.h>

namespace platform {

namespace {

using u8 = unsigned char;

constexpr long kFailInvalid = -1;   // an invalid sequence in strict mode

bool isUtf8Page(unsigned int cp) { return cp == kCodePageUtf8 || cp == 0 || cp == 1 || cp == 3; }

int fail(int code, const char* call) {
    setLastError(code, call);
    return 0;
}

// Turns a counted or written length into the function's result.
int finish(long produced, const char* call) {
    if (produced == kFailInvalid)
        return fail(kErrorNoUnicodeTranslation, call);
    if (produced > INT_MAX)
        return fail(kErrorArithmeticOverflow, call);
    return static_cast<int>(produced);
}

// ---------------------------------------------------------------------------------------------
// iconv

// The iconv name of a Windows code page number; most are "CP<number>".
void iconvName(unsigned int cp, char* name, std::size_t size) {
    struct Named {
        unsigned int cp;
        const char* name;
    };
    static const Named kNames[] = {
        {2, "MACINTOSH"},        {874, "WINDOWS-874"},  {1361, "JOHAB"},
        {10000, "MACINTOSH"},    {20127, "ASCII"},      {20866, "KOI8-R"},
        {20932, "EUC-JP"},       {21866, "KOI8-U"},     {28591, "ISO-8859-1"},
        {28592, "ISO-8859-2"},   {28593, "ISO-8859-3"}, {28594, "ISO-8859-4"},
        {28595, "ISO-8859-5"},   {28596, "ISO-8859-6"}, {28597, "ISO-8859-7"},
        {28598, "ISO-8859-8"},   {28599, "ISO-8859-9"}, {28603, "ISO-8859-13"},
        {28605, "ISO-8859-15"},  {50220, "ISO-2022-JP"}, {51932, "EUC-JP"},
        {51936, "EUC-CN"},       {51949, "EUC-KR"},     {52936, "HZ"},
        {54936, "GB18030"},      {65000, "UTF-7"},
    };
    for (const Named& n : kNames) {
        if (n.cp == cp) {
            std::snprintf(name, size, "%s", n.name);
            return;
        }
    }
    std::snprintf(name, size, "CP%u", cp);
}

#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
const char* const kUtf16Name = "UTF-16LE";
#else
const char* const kUtf16Name = "UTF-16BE";
#endif

// A few descriptors per thread, one per (code page, direction), opened on first use.
class IconvCache {
public:
    ~IconvCache() {
        for (Entry& e : m_entries)
            if (e.open)
                iconv_close(e.cd);
    }
    // Null (and errno from iconv_open) when the page is unknown to iconv.
    iconv_t get(unsigned int cp, bool toWide) {
        for (Entry& e : m_entries) {
            if (e.open && e.cp == cp && e.toWide == toWide) {
                iconv(e.cd, nullptr, nullptr, nullptr, nullptr);   // back to the initial state
                return e.cd;
            }
        }
        char name[32];
        iconvName(cp, name, sizeof name);
        iconv_t cd = toWide ? iconv_open(kUtf16Name, name) : iconv_open(name, kUtf16Name);
        if (cd == reinterpret_cast<iconv_t>(-1))
            return nullptr;
        Entry& slot = m_entries[m_next];
        m_next = (m_next + 1) % kSlots;
        if (slot.open)
            iconv_close(slot.cd);
        slot = Entry{cp, toWide, true, cd};
        return cd;
    }

private:
    static constexpr int kSlots = 4;
    struct Entry {
        unsigned int cp = 0;
        bool toWide = false;
        bool open = false;
        iconv_t cd = nullptr;
    };
    Entry m_entries[kSlots];
    int m_next = 0;
};

thread_local IconvCache t_iconv;

struct IconvRun {
    std::size_t produced = 0;   // output bytes
    std::size_t consumed = 0;   // input bytes taken before a failure
    int error = 0;              // a Win32 error number, 0 on success
    bool usedDefault = false;
};

// The double-byte pages: the byte ranges that begin a two-byte character and those that may
// follow as its second byte. A lead byte makes a character only with a trail byte; on its own
// (followed by a byte outside the trail ranges, or at the end) it is invalid.
struct ByteRange {
    u8 lo, hi;   // hi 0: unused
};
struct DoubleBytePage {
    unsigned int cp;
    ByteRange lead[3];
    ByteRange trail[3];
};
constexpr DoubleBytePage kDoubleBytePages[] = {
    {932, {{0x81, 0x9F}, {0xE0, 0xFC}, {}}, {{0x40, 0x7E}, {0x80, 0xFC}, {}}},
    {936, {{0x81, 0xFE}, {}, {}}, {{0x40, 0x7E}, {0x80, 0xFE}, {}}},
    {949, {{0x81, 0xFE}, {}, {}}, {{0x41, 0x5A}, {0x61, 0x7A}, {0x81, 0xFE}}},
    {950, {{0x81, 0xFE}, {}, {}}, {{0x40, 0x7E}, {0xA1, 0xFE}, {}}},
    {1361, {{0x84, 0xD3}, {0xD8, 0xDE}, {0xE0, 0xF9}}, {{0x31, 0x7E}, {0x81, 0xFE}, {}}},
    {51936, {{0xA1, 0xFE}, {}, {}}, {{0xA1, 0xFE}, {}, {}}},
    {51949, {{0xA1, 0xFE}, {}, {}}, {{0xA1, 0xFE}, {}, {}}},
};

const DoubleBytePage* doubleBytePage(unsigned int cp) {
    for (const DoubleBytePage& p : kDoubleBytePages)
        if (p.cp == cp)
            return &p;
    return nullptr;
}

bool inRanges(const ByteRange (&ranges)[3], u8 b) {
    for (const ByteRange& r : ranges)
        if (r.hi != 0 && b >= r.lo && b <= r.hi)
            return true;
    return false;
}

// The bytes that the character at s (n > 0 bytes left) takes, and whether it can be valid at
// all: a lead byte and a trail byte are one character; a lead byte followed by a byte outside
// the trail ranges is invalid and takes that byte with it unless it is ASCII, which then stands
// on its own (a damaged character never swallows a delimiter, and a byte that could itself be
// a lead does not pull the next character into the damage); any other byte is one character.
std::size_t doubleByteLength(const DoubleBytePage& page, const u8* s, std::size_t n, bool* canBeValid) {
    *canBeValid = true;
    if (!inRanges(page.lead, s[0]))
        return 1;
    if (n >= 2 && inRanges(page.trail, s[1]))
        return 2;
    *canBeValid = false;
    return n >= 2 && s[1] >= 0x80 ? 2 : 1;
}

// Converts the whole input with cd into out (outCap bytes) or, when out is null, only counts.
// An input the page cannot convert fails in strict mode and is otherwise replaced by
// `replacement`; `step` is the input's unit size (1 byte or 2 for UTF-16).
//
// Where iconv stops on an invalid input is not reliable enough to resume from: for some pairs a
// double-byte converter reports the error after the pair rather than at it, and it splits a
// pair it does not map after the lead byte, so that the trail byte could start a character
// with the byte after it. For a double-byte page (`dbcs`) the stretch that failed is therefore
// converted again one character at a time, the characters delimited by the page's lead and
// trail ranges, and the first one that fails is replaced (or, in strict mode, is where the
// valid input ends). Other pages skip one input unit at a time, never beyond the input.
//
// Before a character that iconv refused is replaced, `extra` (the page's generated additions,
// may be null) is asked for it: decoding (`step` 1) by its bytes, encoding (`step` 2) by its
// unit, with best-fit look-alikes when `bestFit`.
struct Additions {
    const CodePageTable* table = nullptr;
    bool bestFit = true;
};

// One conversion with runIconv's arguments; the steps below share its position and result.
class IconvRunner {
public:
    IconvRunner(iconv_t cd, const char* in, std::size_t inBytes, char* out, std::size_t outCap,
                std::size_t step, bool strict, const char* replacement, std::size_t replLen,
                const DoubleBytePage* dbcs, Additions extra)
        : m_cd(cd), m_inBytes(inBytes), m_out(out), m_outCap(outCap), m_step(step),
          m_strict(strict), m_replacement(replacement), m_replLen(replLen), m_dbcs(dbcs),
          m_extra(extra), m_inp(const_cast<char*>(in)), m_inLeft(inBytes) {}

    // Converts the input, then flushes the shift state of a stateful page (UTF-7, ISO-2022).
    IconvRun run() {
        for (;;) {
            char* const start = m_inp;
            const std::size_t producedAtStart = m_r.produced;
            int err = 0;
            const bool flushing = m_inLeft == 0;
            if (flushing ? convert(nullptr, nullptr, &err) : convert(&m_inp, &m_inLeft, &err)) {
                if (flushing)
                    break;
                continue;
            }
            if (err == E2BIG) {
                if (m_out)
                    return stop(kErrorInsufficientBuffer);
                continue;
            }
            if (err != EILSEQ && err != EINVAL)
                return stop(kErrorNoUnicodeTranslation);
            if (m_dbcs) {
                if (!redoStretch(start, producedAtStart))
                    return m_r;
                continue;
            }
            if (err == EILSEQ && m_inLeft >= m_step) {
                const int added = addition(m_step);
                if (added < 0)
                    return stop(kErrorInsufficientBuffer);
                if (added > 0)
                    continue;
            }
            if (m_strict)
                return stop(kErrorNoUnicodeTranslation);
            // Replace what iconv refused one input unit at a time (a surrogate pair the page
            // lacks becomes two default characters, as on Windows); an incomplete tail whole.
            if (!replace(err == EINVAL || m_inLeft < m_step ? m_inLeft : m_step))
                return m_r;
        }
        return m_r;
    }

private:
    // One iconv call on the input at *src (null: flush) into the output, or into scratch when
    // counting; the output is added to the result.
    bool convert(char** src, std::size_t* srcLeft, int* err) {
        char* dst = m_out ? m_out + m_r.produced : m_scratch;
        std::size_t room = m_out ? m_outCap - m_r.produced : sizeof m_scratch;
        const std::size_t before = room;
        const std::size_t rc = iconv(m_cd, src, srcLeft, &dst, &room);
        *err = errno;
        m_r.produced += before - room;
        return rc != static_cast<std::size_t>(-1);
    }

    // Replaces `skip` input bytes by the replacement; false (with the error set) when it does
    // not fit.
    bool replace(std::size_t skip) {
        if (m_out && m_outCap - m_r.produced < m_replLen) {
            m_r.error = kErrorInsufficientBuffer;
            return false;
        }
        if (m_out)
            std::memcpy(m_out + m_r.produced, m_replacement, m_replLen);
        m_r.produced += m_replLen;
        m_r.usedDefault = true;
        advance(skip);
        return true;
    }

    IconvRun stop(int error) {
        m_r.error = error;
        m_r.consumed = m_inBytes - m_inLeft;
        return m_r;
    }

    void advance(std::size_t bytes) {
        m_inp += bytes;
        m_inLeft -= bytes;
    }

    // Converts the `length` input bytes at the position with the additions: 1 when done, 0 when
    // the table has no entry, -1 (with the error set) when the result does not fit.
    int addition(std::size_t length) {
        if (!m_extra.table || length > m_inLeft)
            return 0;
        const u8* p = reinterpret_cast<const u8*>(m_inp);
        u8 bytes[2];
        std::size_t produce = 0;
        if (m_step == 1) {
            const unsigned key = length == 2 ? static_cast<unsigned>(p[0]) << 8 | p[1] : p[0];
            const char16_t unit = codePageDecode(*m_extra.table, key, m_strict);
            if (unit == 0)
                return 0;
            std::memcpy(bytes, &unit, 2);
            produce = 2;
        } else {
            char16_t unit;
            std::memcpy(&unit, p, 2);
            const unsigned value = codePageEncode(*m_extra.table, unit, m_extra.bestFit);
            if (value == 0)
                return 0;
            bytes[0] = static_cast<u8>(value > 0xFF ? value >> 8 : value);
            bytes[1] = static_cast<u8>(value);
            produce = value > 0xFF ? 2 : 1;
        }
        if (m_out && m_outCap - m_r.produced < produce) {
            m_r.error = kErrorInsufficientBuffer;
            return -1;
        }
        if (m_out)
            std::memcpy(m_out + m_r.produced, bytes, produce);
        m_r.produced += produce;
        // A look-alike that is the default character itself counts as using it (as on Windows).
        if (m_step == 2 && produce == m_replLen && std::memcmp(bytes, m_replacement, m_replLen) == 0)
            m_r.usedDefault = true;
        advance(length);
        return 1;
    }

    // A double-byte page's failed stretch: redone from its start one character at a time until
    // a character fails (added from the tables, replaced, or the end in strict mode) or the
    // place where iconv stopped has been passed. False when the conversion ends here (the
    // result is set).
    bool redoStretch(char* start, std::size_t producedAtStart) {
        const std::size_t stoppedAt = static_cast<std::size_t>(m_inp - start);
        m_inLeft += stoppedAt;
        m_inp = start;
        m_r.produced = producedAtStart;
        while (m_inLeft > 0 && static_cast<std::size_t>(m_inp - start) <= stoppedAt) {
            bool canBeValid = false;
            const std::size_t length = doubleByteLength(
                *m_dbcs, reinterpret_cast<const u8*>(m_inp), m_inLeft, &canBeValid);
            char* src = m_inp;
            std::size_t srcLeft = length;
            int err = 0;
            if (canBeValid && convert(&src, &srcLeft, &err)) {
                advance(length);
                continue;
            }
            if (canBeValid && err == E2BIG && m_out)
                return stop(kErrorInsufficientBuffer), false;
            if (canBeValid) {
                const int added = addition(length);
                if (added < 0)
                    return stop(kErrorInsufficientBuffer), false;
                if (added > 0)
                    return true;
            }
            if (m_strict)
                return stop(kErrorNoUnicodeTranslation), false;
            return replace(length);
        }
        return true;
    }

    iconv_t m_cd;
    std::size_t m_inBytes;
    char* m_out;
    std::size_t m_outCap;
    std::size_t m_step;
    bool m_strict;
    const char* m_replacement;
    std::size_t m_replLen;
    const DoubleBytePage* m_dbcs;
    Additions m_extra;
    char* m_inp;
    std::size_t m_inLeft;
    IconvRun m_r;
    char m_scratch[1024];
};

IconvRun runIconv(iconv_t cd, const char* in, std::size_t inBytes, char* out, std::size_t outCap,
                  std::size_t step, bool strict, const char* replacement, std::size_t replLen,
                  const DoubleBytePage* dbcs = nullptr, Additions extra = {}) {
    return IconvRunner(cd, in, inBytes, out, outCap, step, strict, replacement, replLen, dbcs,
                       extra)
        .run();
}

int iconvToWide(unsigned int cp, bool strict, const char* in, std::size_t n, char16_t* out,
                int outCapacity) {
    iconv_t cd = t_iconv.get(cp, true);
    if (!cd)
        return fail(kErrorInvalidParameter, "MultiByteToWideChar");
    // The page's default Unicode character for bytes it cannot decode: the katakana middle
    // dot in 932, '?' elsewhere.
    const char16_t replacement = cp == 932 ? u'\u30FB' : u'?';
    Additions extra;
    extra.table = codePageTable(cp);
    IconvRun r = runIconv(cd, in, n, outCapacity ? reinterpret_cast<char*>(out) : nullptr,
                          static_cast<std::size_t>(outCapacity) * 2, 1, strict,
                          reinterpret_cast<const char*>(&replacement), 2, doubleBytePage(cp), extra);
    if (r.error)
        return fail(r.error, "MultiByteToWideChar");
    return finish(static_cast<long>(r.produced / 2), "MultiByteToWideChar");
}

int iconvFromWide(unsigned int cp, bool bestFit, const char16_t* in, std::size_t n, char* out,
                  int outCapacity, const char* defaultChar, bool* usedDefault) {
    iconv_t cd = t_iconv.get(cp, false);
    if (!cd)
        return fail(kErrorInvalidParameter, "WideCharToMultiByte");
    const char* repl = defaultChar ? defaultChar : "?";
    std::size_t replLen = std::strlen(repl);
    if (replLen == 0 || replLen > 2) {
        repl = "?";
        replLen = 1;
    }
    Additions extra;
    extra.table = codePageTable(cp);
    extra.bestFit = bestFit;
    IconvRun r = runIconv(cd, reinterpret_cast<const char*>(in), n * 2,
                          outCapacity ? out : nullptr, static_cast<std::size_t>(outCapacity), 2,
                          false, repl, replLen, nullptr, extra);
    if (r.error)
        return fail(r.error, "WideCharToMultiByte");
    if (usedDefault)
        *usedDefault = r.usedDefault;
    return finish(static_cast<long>(r.produced), "WideCharToMultiByte");
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Entry points

int multiByteValidPrefix(unsigned int codePage, const char* in, int inLength) {
    if (isUtf8Page(codePage))
        return codepage::utf8ValidPrefix(in, inLength);
    if (!in || inLength <= 0)
        return 0;
    std::size_t n = static_cast<std::size_t>(inLength);
    iconv_t cd = t_iconv.get(codePage, true);
    if (!cd)
        return 0;
    Additions extra;
    extra.table = codePageTable(codePage);
    IconvRun r = runIconv(cd, in, n, nullptr, 0, 1, true, nullptr, 0, doubleBytePage(codePage), extra);
    return r.error ? static_cast<int>(r.consumed) : inLength;
}

int multiByteToWideChar(unsigned int codePage, unsigned int flags, const char* in, int inLength,
                        char16_t* out, int outCapacity) {
    if (codePage == kCodePageUtf8)
        return codepage::utf8PageToWide(flags, in, inLength, out, outCapacity);
    const char* call = "MultiByteToWideChar";
    if (!codepage::argumentsValid(in, inLength, out, outCapacity, call))
        return 0;
    std::size_t n = codepage::inputLength(in, inLength);
    bool strict = (flags & kMbErrInvalidChars) != 0;
    if (codePage == 54936) {
        if (flags & ~kMbErrInvalidChars)
            return fail(kErrorInvalidFlags, call);
    } else if (codePage == 65000 || codePage == 42 || (codePage >= 50220 && codePage <= 50229) ||
               (codePage >= 57002 && codePage <= 57011)) {
        if (flags != 0)
            return fail(kErrorInvalidFlags, call);
    } else if (flags & ~0x0Fu) {
        return fail(kErrorInvalidFlags, call);
    }
    if (isUtf8Page(codePage))
        return codepage::utf8ToWide(strict, in, n, out, outCapacity);
    return iconvToWide(codePage, strict, in, n, out, outCapacity);
}

int wideCharToMultiByte(unsigned int codePage, unsigned int flags, const char16_t* in,
                        int inLength, char* out, int outCapacity, const char* defaultChar,
                        bool* usedDefault) {
    if (codePage == kCodePageUtf8)
        return codepage::utf8PageFromWide(flags, in, inLength, out, outCapacity, defaultChar,
                                          usedDefault);
    const char* call = "WideCharToMultiByte";
    if (!codepage::argumentsValid(in, inLength, out, outCapacity, call))
        return 0;
    std::size_t n = codepage::inputLength(in, inLength);
    bool strict = (flags & kWcErrInvalidChars) != 0;
    if (isUtf8Page(codePage)) {
        // The ANSI page is UTF-8 here; its default character stands in for a lone surrogate.
        const char* repl = defaultChar && *defaultChar ? defaultChar : "?";
        std::size_t replLen = std::strlen(repl) > 2 ? 2 : std::strlen(repl);
        bool lone = false;
        int r = codepage::wideToUtf8(strict, in, n, out, outCapacity, repl, replLen, &lone);
        if (r > 0 && usedDefault)
            *usedDefault = lone;
        return r;
    }
    if (strict && codePage != 54936)
        return fail(kErrorInvalidFlags, call);
    return iconvFromWide(codePage, (flags & kWcNoBestFitChars) == 0, in, n, out, outCapacity,
                         defaultChar, usedDefault);
}

}  // namespace platform
