// The UTF-16 formatter behind every formatted message of the library. It walks the pattern once,
// writes literal runs straight to the output and renders each conversion into a small local
// buffer, so the only allocation is the growing string of nxVFormatString. Floating-point values
// go through std::to_chars (the shortest exact digits for a given precision, as printf in the
// "C" locale would print them); everything else is formatted here.
//
// Sections: output sinks; conversion directives; integers; floating point; text;
// the main loop; public entry points.
#include "format/format.h"

#include "platform/utf8.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>

namespace {

// ---------------------------------------------------------------------------------------------
// Output sinks

// Collects units either into a fixed buffer (cut at capacity - 1) or into a growing string.
class Sink {
public:
    Sink(char16_t* buffer, std::size_t capacity)
        : m_buf(buffer), m_limit(capacity ? capacity - 1 : 0), m_str(nullptr) {}
    explicit Sink(std::u16string* str) : m_buf(nullptr), m_limit(SIZE_MAX), m_str(str) {}

    bool full() const { return m_n >= m_limit; }
    std::size_t count() const { return m_n; }

    void put(char16_t c) {
        if (m_n >= m_limit)
            return;
        if (m_str)
            m_str->push_back(c);
        else
            m_buf[m_n] = c;
        ++m_n;
    }
    void put(const char16_t* s, std::size_t n) {
        if (n > m_limit - m_n)
            n = m_limit - m_n;
        if (m_str)
            m_str->append(s, n);
        else
            std::memcpy(m_buf + m_n, s, n * sizeof(char16_t));
        m_n += n;
    }
    // Narrow ASCII text (digits, "inf", "(null)").
    void putAscii(const char* s, std::size_t n) {
        if (n > m_limit - m_n)
            n = m_limit - m_n;
        if (m_str) {
            m_str->append(s, s + n);
        } else {
            for (std::size_t i = 0; i < n; ++i)
                m_buf[m_n + i] = static_cast<unsigned char>(s[i]);
        }
        m_n += n;
    }
    void fill(char16_t c, std::size_t n) {
        if (n > m_limit - m_n)
            n = m_limit - m_n;
        if (m_str) {
            m_str->append(n, c);
        } else {
            for (std::size_t i = 0; i < n; ++i)
                m_buf[m_n + i] = c;
        }
        m_n += n;
    }
    void terminate() {
        if (m_buf && m_limit != SIZE_MAX)
            m_buf[m_n] = 0;
    }

private:
    char16_t* m_buf;
    std::size_t m_limit;
    std::u16string* m_str;
    std::size_t m_n = 0;
};

// ---------------------------------------------------------------------------------------------
// Conversion directives

enum class Size { Default, Char, Short, Long, LongLong, SizeT, IntMax, PtrDiff, LongDouble,
                  Narrow, Wide };

struct Directive {
    bool left = false;      // '-'
    bool plus = false;      // '+'
    bool space = false;     // ' '
    bool alt = false;       // '#'
    bool zero = false;      // '0'
    int width = 0;
    int precision = -1;     // -1: none given
    Size size = Size::Default;
};

// Writes `body` (already rendered, ASCII) with its sign or prefix and the padding the directive asks
// for. `zeroPad` says whether the '0' flag applies to this conversion; `zeros` more '0' digits
// go between the prefix and the body (an integer precision longer than the rendered digits).
void emitPadded(Sink& out, const Directive& fmt, const char* prefix, std::size_t prefixLen,
                const char* body, std::size_t bodyLen, bool zeroPad, std::size_t zeros = 0) {
    std::size_t total = prefixLen + zeros + bodyLen;
    std::size_t pad = fmt.width > 0 && static_cast<std::size_t>(fmt.width) > total
                          ? static_cast<std::size_t>(fmt.width) - total
                          : 0;
    if (!fmt.left && !zeroPad)
        out.fill(u' ', pad);
    out.putAscii(prefix, prefixLen);
    if (!fmt.left && zeroPad)
        out.fill(u'0', pad);
    out.fill(u'0', zeros);
    out.putAscii(body, bodyLen);
    if (fmt.left)
        out.fill(u' ', pad);
}

// ---------------------------------------------------------------------------------------------
// Integers

// Writes the sign of a signed conversion to `prefix`: '-' for a negative value, else '+' or ' '
// as the flags ask. Returns its length, 0 or 1.
std::size_t putSign(char* prefix, const Directive& fmt, bool negative) {
    const char sign = negative ? '-' : fmt.plus ? '+' : fmt.space ? ' ' : 0;
    if (sign)
        prefix[0] = sign;
    return sign ? 1 : 0;
}

// Digits of `value` in `base` into the end of buf; returns the first digit.
char* renderUnsigned(char* end, std::uint64_t value, unsigned base, bool upper) {
    const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    char* p = end;
    do {
        *--p = digits[value % base];
        value /= base;
    } while (value != 0);
    return p;
}

void formatInteger(Sink& out, const Directive& fmt, char conv, std::uint64_t magnitude,
                   bool negative) {
    unsigned base = 10;
    bool upper = false;
    if (conv == 'x' || conv == 'X' || conv == 'p') {
        base = 16;
        upper = conv != 'x';
    } else if (conv == 'o') {
        base = 8;
    }
    char buf[96];
    char* end = buf + sizeof buf;
    char* first = end;
    // Precision 0 with the value 0 prints no digits at all.
    if (!(fmt.precision == 0 && magnitude == 0))
        first = renderUnsigned(end, magnitude, base, upper);
    std::size_t digits = static_cast<std::size_t>(end - first);
    std::size_t minDigits = fmt.precision > 0 ? static_cast<std::size_t>(fmt.precision) : 0;
    // '#' with octal makes the first digit a zero.
    if (conv == 'o' && fmt.alt && (digits == 0 || *first != '0') && minDigits <= digits)
        minDigits = digits + 1;
    // The precision's leading zeros are emitted, not rendered: it may exceed the buffer.
    const std::size_t zeros = minDigits > digits ? minDigits - digits : 0;

    char prefix[3] = {};
    std::size_t prefixLen = 0;
    if (conv == 'd' || conv == 'i') {
        prefixLen = putSign(prefix, fmt, negative);
    } else if ((conv == 'x' || conv == 'X') && fmt.alt && magnitude != 0) {
        prefix[prefixLen++] = '0';
        prefix[prefixLen++] = conv;
    }
    emitPadded(out, fmt, prefix, prefixLen, first, digits, fmt.zero && fmt.precision < 0,
               zeros);
}

std::int64_t takeSigned(Size size, va_list& args) {
    switch (size) {
    case Size::Char: return static_cast<signed char>(va_arg(args, int));
    case Size::Short: return static_cast<short>(va_arg(args, int));
    case Size::Long: return va_arg(args, long);
    case Size::LongLong: return va_arg(args, long long);
    case Size::SizeT: return static_cast<std::int64_t>(va_arg(args, std::size_t));
    case Size::IntMax: return va_arg(args, std::intmax_t);
    case Size::PtrDiff: return va_arg(args, std::ptrdiff_t);
    default: return va_arg(args, int);
    }
}

std::uint64_t takeUnsigned(Size size, va_list& args) {
    switch (size) {
    case Size::Char: return static_cast<unsigned char>(va_arg(args, unsigned int));
    case Size::Short: return static_cast<unsigned short>(va_arg(args, unsigned int));
    case Size::Long: return va_arg(args, unsigned long);
    case Size::LongLong: return va_arg(args, unsigned long long);
    case Size::SizeT: return va_arg(args, std::size_t);
    case Size::IntMax: return va_arg(args, std::uintmax_t);
    case Size::PtrDiff: return static_cast<std::uint64_t>(va_arg(args, std::ptrdiff_t));
    default: return va_arg(args, unsigned int);
    }
}

// ---------------------------------------------------------------------------------------------
// Floating point

// Renders |value| with std::to_chars in fixed or scientific form; returns the length.
std::size_t renderFloat(char* buf, std::size_t cap, double value, std::chars_format fmt,
                        int precision) {
    std::to_chars_result r = std::to_chars(buf, buf + cap, value, fmt, precision);
    if (r.ec != std::errc())
        return 0;
    return static_cast<std::size_t>(r.ptr - buf);
}

// Drops trailing zeros of the fraction (and a bare decimal point) in place; keeps an exponent.
std::size_t stripZeros(char* buf, std::size_t len) {
    char* dot = static_cast<char*>(std::memchr(buf, '.', len));
    if (!dot)
        return len;
    char* exp = static_cast<char*>(std::memchr(buf, 'e', len));
    char* fracEnd = exp ? exp : buf + len;
    char* p = fracEnd;
    while (p > dot + 1 && p[-1] == '0')
        --p;
    if (p == dot + 1)
        --p;
    std::size_t expLen = static_cast<std::size_t>(buf + len - fracEnd);
    std::memmove(p, fracEnd, expLen);
    return static_cast<std::size_t>(p - buf) + expLen;
}

void formatFloat(Sink& out, const Directive& fmt, char conv, double value) {
    bool upper = conv == 'F' || conv == 'E' || conv == 'G';
    char lower = static_cast<char>(upper ? conv - 'A' + 'a' : conv);
    bool negative = std::signbit(value);
    double magnitude = std::fabs(value);

    char prefix[1];
    const std::size_t prefixLen = putSign(prefix, fmt, negative);

    if (!std::isfinite(magnitude)) {
        const char* text = std::isnan(magnitude) ? (upper ? "NAN" : "nan")
                                                 : (upper ? "INF" : "inf");
        emitPadded(out, fmt, prefix, prefixLen, text, 3, false);
        return;
    }

    // Room for DBL_MAX in fixed form (309 digits), the precision's digits, a point, an exponent
    // and the '#' point; a long precision renders into a heap block.
    const int precision = fmt.precision < 0 ? 6 : fmt.precision;
    char local[400];
    std::unique_ptr<char[]> heap;
    std::size_t cap = sizeof local;
    char* buf = local;
    if (precision > 64) {
        cap = 336 + static_cast<std::size_t>(precision);
        heap.reset(new char[cap]);
        buf = heap.get();
    }
    std::size_t len = 0;
    if (lower == 'f') {
        len = renderFloat(buf, cap - 1, magnitude, std::chars_format::fixed, precision);
        if (fmt.alt && precision == 0)
            buf[len++] = '.';
    } else if (lower == 'e') {
        len = renderFloat(buf, cap - 1, magnitude, std::chars_format::scientific,
                          precision);
        if (fmt.alt && precision == 0) {
            char* e = static_cast<char*>(std::memchr(buf, 'e', len));
            if (e) {
                std::memmove(e + 1, e, static_cast<std::size_t>(buf + len - e));
                *e = '.';
                ++len;
            }
        }
    } else {
        // %g: P significant digits; scientific when the exponent X is below -4 or at least P.
        int p = precision == 0 ? 1 : precision;
        len = renderFloat(buf, cap, magnitude, std::chars_format::scientific, p - 1);
        const char* e = static_cast<const char*>(std::memchr(buf, 'e', len));
        int x = 0;
        if (e) {
            // The buffer is not terminated: read the exponent within the rendered length.
            const char* q = e + 1;
            bool neg = *q == '-';
            for (++q; q < buf + len; ++q)
                x = x * 10 + (*q - '0');
            if (neg)
                x = -x;
        }
        if (x >= -4 && x < p)
            len = renderFloat(buf, cap - 1, magnitude, std::chars_format::fixed,
                              p - 1 - x);
        if (!fmt.alt) {
            len = stripZeros(buf, len);
        } else if (!std::memchr(buf, '.', len)) {
            char* ep = static_cast<char*>(std::memchr(buf, 'e', len));
            char* at = ep ? ep : buf + len;
            std::memmove(at + 1, at, static_cast<std::size_t>(buf + len - at));
            *at = '.';
            ++len;
        }
    }
    if (upper) {
        for (std::size_t i = 0; i < len; ++i)
            if (buf[i] == 'e')
                buf[i] = 'E';
    }
    emitPadded(out, fmt, prefix, prefixLen, buf, len, fmt.zero && !fmt.left);
}

// ---------------------------------------------------------------------------------------------
// Text

// A narrow string is UTF-8 text (the library's narrow encoding on every platform).
std::u16string widenUtf8(const char* s, std::size_t n) {
    // Each byte of an invalid or truncated sequence becomes U+FFFD.
    std::u16string w(n, u'\0');
    if (n > 0)
        w.resize(platform::utf::utf8To16(s, n, &w[0], n, platform::utf::Policy::ReplaceEachByte).written);
    return w;
}

void emitText(Sink& out, const Directive& fmt, const char16_t* s, std::size_t n) {
    if (fmt.precision >= 0 && static_cast<std::size_t>(fmt.precision) < n)
        n = static_cast<std::size_t>(fmt.precision);
    std::size_t pad = fmt.width > 0 && static_cast<std::size_t>(fmt.width) > n
                          ? static_cast<std::size_t>(fmt.width) - n
                          : 0;
    if (!fmt.left)
        out.fill(fmt.zero ? u'0' : u' ', pad);
    out.put(s, n);
    if (fmt.left)
        out.fill(u' ', pad);
}

std::size_t unitLength(const char16_t* s, int precision) {
    std::size_t n = 0;
    // With a precision the string need not be terminated within reach.
    if (precision >= 0) {
        while (n < static_cast<std::size_t>(precision) && s[n])
            ++n;
    } else {
        while (s[n])
            ++n;
    }
    return n;
}

// Whether a string or character directive reads a narrow argument. In a wide pattern "%s" and
// "%c" are wide and "%S" and "%C" narrow; the size prefix "h" forces narrow, "l" and "w" wide.
bool takesNarrow(const Directive& fmt, bool upperCase) {
    if (fmt.size == Size::Short)
        return true;
    if (fmt.size == Size::Long || fmt.size == Size::Wide)
        return false;
    return upperCase;
}

void formatWide(Sink& out, const Directive& fmt, const char16_t* s) {
    if (!s) {
        emitText(out, fmt, u"(null)", 6);
        return;
    }
    emitText(out, fmt, s, unitLength(s, fmt.precision));
}

void formatNarrow(Sink& out, const Directive& fmt, const char* s) {
    if (!s) {
        emitText(out, fmt, u"(null)", 6);
        return;
    }
    std::size_t n = 0;
    if (fmt.precision >= 0) {
        while (n < static_cast<std::size_t>(fmt.precision) && s[n])
            ++n;
    } else {
        n = std::strlen(s);
    }
    std::u16string w = widenUtf8(s, n);
    emitText(out, fmt, w.data(), w.size());
}

// ---------------------------------------------------------------------------------------------
// The main loop

int readNumber(const char16_t*& p) {
    long v = 0;
    while (*p >= u'0' && *p <= u'9') {
        if (v < 100000)
            v = v * 10 + (*p - u'0');
        ++p;
    }
    return static_cast<int>(v);
}

// Reads the size prefix of a directive: Windows "I64" "I32" "I" "h" "l" "w" and the C99 "hh"
// "ll" "z" "j" "t" "L". Longer prefixes come first so that "I64" is not read as "I".
Size readSize(const char16_t*& p) {
    static const struct {
        const char16_t* text;
        Size size;
    } kPrefixes[] = {
        {u"I64", Size::LongLong}, {u"I32", Size::Default}, {u"hh", Size::Char},
        {u"ll", Size::LongLong},  {u"I", Size::SizeT},     {u"z", Size::SizeT},
        {u"h", Size::Short},      {u"l", Size::Long},      {u"w", Size::Wide},
        {u"j", Size::IntMax},     {u"t", Size::PtrDiff},   {u"L", Size::LongDouble},
    };
    for (const auto& prefix : kPrefixes) {
        std::size_t n = 0;
        while (prefix.text[n] && p[n] == prefix.text[n])
            ++n;
        if (!prefix.text[n]) {
            p += n;
            return prefix.size;
        }
    }
    return Size::Default;
}

// Reads a width or precision that is either digits or "*" (taken from the arguments, capped
// like the digits). Returns the value, or -1 for a negative "*" argument.
int readCount(const char16_t*& p, va_list& args) {
    if (*p != u'*')
        return readNumber(p);
    ++p;
    const int n = va_arg(args, int);
    if (n < 0)
        return n < -100000 ? -100000 : n;
    return n > 100000 ? 100000 : n;
}

// Parses the directive after its '%' up to the conversion character, which it returns without
// consuming it (0 when the pattern ends first). Takes "*" arguments in pattern order.
char16_t parseDirective(const char16_t*& p, va_list& args, Directive& fmt) {
    for (;; ++p) {
        if (*p == u'-') fmt.left = true;
        else if (*p == u'+') fmt.plus = true;
        else if (*p == u' ') fmt.space = true;
        else if (*p == u'#') fmt.alt = true;
        else if (*p == u'0') fmt.zero = true;
        else break;
    }
    const int width = readCount(p, args);
    if (width < 0)
        fmt.left = true;  // a negative "*" width means left-justified
    fmt.width = width < 0 ? -width : width;
    if (*p == u'.') {
        ++p;
        const int precision = readCount(p, args);
        fmt.precision = precision < 0 ? -1 : precision;  // a negative "*" one counts as none
    }
    fmt.size = readSize(p);
    return *p;
}

void formatCharacter(Sink& out, const Directive& fmt, bool upperCase, int value) {
    char16_t unit;
    if (takesNarrow(fmt, upperCase)) {
        const unsigned char b = static_cast<unsigned char>(value);
        unit = b < 0x80 ? static_cast<char16_t>(b) : char16_t(0xFFFD);
    } else {
        unit = static_cast<char16_t>(value);
    }
    Directive cs = fmt;
    cs.precision = -1;
    emitText(out, cs, &unit, 1);
}

// Converts one argument for conversion character `conv`. False for an unknown conversion,
// which the caller prints as written.
bool convertArgument(Sink& out, const Directive& fmt, char16_t conv, va_list& args) {
    switch (conv) {
    case u'd':
    case u'i': {
        const std::int64_t v = takeSigned(fmt.size, args);
        const std::uint64_t m = v < 0 ? 0 - static_cast<std::uint64_t>(v)
                                      : static_cast<std::uint64_t>(v);
        formatInteger(out, fmt, static_cast<char>(conv), m, v < 0);
        return true;
    }
    case u'u':
    case u'x':
    case u'X':
    case u'o':
        formatInteger(out, fmt, static_cast<char>(conv), takeUnsigned(fmt.size, args), false);
        return true;
    case u'p': {
        // Windows prints a pointer as upper-case hexadecimal with all of its digits.
        Directive ps = fmt;
        ps.precision = static_cast<int>(2 * sizeof(void*));
        ps.alt = false;
        const auto address = reinterpret_cast<std::uintptr_t>(va_arg(args, void*));
        formatInteger(out, ps, 'p', static_cast<std::uint64_t>(address), false);
        return true;
    }
    case u'f':
    case u'F':
    case u'e':
    case u'E':
    case u'g':
    case u'G': {
        const double v = fmt.size == Size::LongDouble
                             ? static_cast<double>(va_arg(args, long double))
                             : va_arg(args, double);
        formatFloat(out, fmt, static_cast<char>(conv), v);
        return true;
    }
    case u's':
    case u'S':
        if (takesNarrow(fmt, conv == u'S'))
            formatNarrow(out, fmt, va_arg(args, const char*));
        else
            formatWide(out, fmt, va_arg(args, const char16_t*));
        return true;
    case u'c':
    case u'C':
        formatCharacter(out, fmt, conv == u'C', va_arg(args, int));
        return true;
    case u'n':
        // Writing through a pointer from a pattern is refused; the argument is consumed.
        (void)va_arg(args, void*);
        return true;
    default:
        return false;
    }
}

void formatInto(Sink& out, const char16_t* pattern, va_list& args) {
    if (!pattern)
        return;
    const char16_t* p = pattern;
    while (*p && !out.full()) {
        if (*p != u'%') {
            const char16_t* run = p;
            while (*p && *p != u'%')
                ++p;
            out.put(run, static_cast<std::size_t>(p - run));
            continue;
        }
        const char16_t* start = p++;
        if (*p == u'%') {
            out.put(u'%');
            ++p;
            continue;
        }
        Directive fmt;
        const char16_t conv = parseDirective(p, args, fmt);
        if (conv == 0) {
            // A pattern cut inside a conversion prints what it has.
            out.put(start, static_cast<std::size_t>(p - start));
            break;
        }
        ++p;
        if (!convertArgument(out, fmt, conv, args))
            out.put(start, static_cast<std::size_t>(p - start));  // unknown: as written
    }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Public entry points

std::size_t nxVFormat(char16_t* out, std::size_t capacity, const char16_t* pattern,
                      va_list args) {
    if (capacity == 0 || !out)
        return 0;
    Sink sink(out, capacity);
    va_list copy;
    va_copy(copy, args);
    formatInto(sink, pattern, copy);
    va_end(copy);
    sink.terminate();
    return sink.count();
}

std::size_t nxFormat(char16_t* out, std::size_t capacity, const char16_t* pattern, ...) {
    va_list args;
    va_start(args, pattern);
    std::size_t n = nxVFormat(out, capacity, pattern, args);
    va_end(args);
    return n;
}

std::u16string nxVFormatString(const char16_t* pattern, va_list args) {
    std::u16string s;
    Sink sink(&s);
    va_list copy;
    va_copy(copy, args);
    formatInto(sink, pattern, copy);
    va_end(copy);
    return s;
}

std::u16string nxFormatString(const char16_t* pattern, ...) {
    va_list args;
    va_start(args, pattern);
    std::u16string s = nxVFormatString(pattern, args);
    va_end(args);
    return s;
}
