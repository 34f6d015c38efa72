// Differential fuzz target of the UTF-8 converter: at every vector level the processor has
// (portable, SSSE3, AVX2) and under every policy, both directions must give what a plain
// one-code-point-at-a-time converter gives: the same units or bytes, the same position of a
// strict fault, the same stop before a character that does not fit a bounded buffer, and no
// write beyond the output when the buffer is only as long as the output.
// Byte 0: bits 0-1 pick the policy (strict, replacing subparts, replacing bytes, document), bit 2 the direction, bits 3-7 a capacity cut.
#include "fuzz_util.h"
#include "platform/utf8.h"
#include "xml/xml.h"

#include <string>
#include <vector>

using nxfuzz::check;
using platform::utf::Policy;
using platform::utf::Result;

namespace {

// One reference step: the input it takes, its output, and whether it is a strict fault or,
// under the document policy, the zero character that ends the text.
template <typename Unit>
struct Step {
    std::size_t length = 0;
    std::basic_string<Unit> out;
    bool fault = false;
    bool zero = false;
};

void put16(std::u16string& out, unsigned cp) {
    if (cp > 0xFFFF) {
        out += static_cast<char16_t>(0xD800 | (((cp - 0x10000) >> 10) & 0x3FF));
        out += static_cast<char16_t>(0xDC00 | (cp & 0x3FF));
    } else {
        out += static_cast<char16_t>(cp);
    }
}

// The well-formed byte sequences: the second byte's range depends on the lead.
Step<char16_t> decodeStep(const unsigned char* s, std::size_t n, Policy policy) {
    Step<char16_t> st;
    if (policy == Policy::Markup) {
        // The document statics' own single-character decoder on a zero-terminated copy.
        char copy[5] = {0, 0, 0, 0, 0};
        for (std::size_t k = 0; k < 4 && k < n; ++k)
            copy[k] = static_cast<char>(s[k]);
        const char* p = copy;
        const int c = CMarkup::DecodeCharUTF8(p);
        st.length = static_cast<std::size_t>(p - copy);
        if (st.length > n)
            st.length = n;   // never reached: a zero ends the decoding
        st.zero = c == 0;
        st.fault = c < 0;
        if (!st.zero)
            put16(st.out, c < 0 ? '?' : static_cast<unsigned>(c));
        return st;
    }
    const unsigned b = s[0];
    std::size_t need = 0;
    unsigned lo = 0x80, hi = 0xBF, cp = 0;
    if (b < 0x80) {
        st.length = 1;
        st.out += static_cast<char16_t>(b);
        return st;
    }
    if (b >= 0xC2 && b <= 0xDF) { need = 2; cp = b & 0x1F; }
    else if (b >= 0xE0 && b <= 0xEF) { need = 3; cp = b & 0x0F; lo = b == 0xE0 ? 0xA0 : 0x80; hi = b == 0xED ? 0x9F : 0xBF; }
    else if (b >= 0xF0 && b <= 0xF4) { need = 4; cp = b & 0x07; lo = b == 0xF0 ? 0x90 : 0x80; hi = b == 0xF4 ? 0x8F : 0xBF; }
    std::size_t k = 1;
    while (need && k < need && k < n) {
        const unsigned c = s[k];
        if (k == 1 ? (c < lo || c > hi) : (c < 0x80 || c > 0xBF))
            break;
        cp = (cp << 6) | (c & 0x3F);
        ++k;
    }
    if (need && k == need) {
        st.length = need;
        put16(st.out, cp);
        return st;
    }
    st.fault = true;
    st.length = policy == Policy::ReplaceEachByte ? 1 : k;   // else the maximal ill-formed subpart
    st.out += u'\xFFFD';
    return st;
}

Step<char> encodeStep(const char16_t* s, std::size_t n, Policy policy) {
    Step<char> st;
    unsigned cp = s[0];
    st.length = 1;
    if (cp >= 0xD800 && cp <= 0xDFFF) {
        const bool pair = cp <= 0xDBFF && n >= 2 && s[1] >= 0xDC00 && s[1] <= 0xDFFF;
        if (pair || (policy == Policy::Markup && n >= 2)) {
            cp = (((cp & 0x3FF) << 10) | (s[1] & 0x3FFu)) + 0x10000;
            st.length = 2;
        } else {
            st.fault = true;
            st.out = policy == Policy::Markup ? "?" : "\xEF\xBF\xBD";
            return st;
        }
    }
    if (cp < 0x80) {
        st.out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        st.out += static_cast<char>(0xC0 | (cp >> 6));
        st.out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        st.out += static_cast<char>(0xE0 | (cp >> 12));
        st.out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        st.out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        st.out += static_cast<char>(0xF0 | ((cp >> 18) & 0x07));
        st.out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        st.out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        st.out += static_cast<char>(0x80 | (cp & 0x3F));
    }
    return st;
}

// The reference conversion with a capacity (npos: unbounded).
template <typename In, typename Out, typename StepFn>
Result reference(const In* in, std::size_t n, std::size_t capacity, Policy policy, StepFn step,
                 std::basic_string<Out>* out) {
    Result r;
    std::size_t i = 0;
    while (i < n) {
        Step<Out> st = step(in + i, n - i);
        if (st.zero) {
            r.terminated = true;
            i += st.length;
            break;
        }
        if (st.fault && policy == Policy::Strict) {
            r.ok = false;
            break;
        }
        if (capacity - out->size() < st.out.size()) {
            r.full = true;
            break;
        }
        *out += st.out;
        r.replaced = r.replaced || st.fault;
        i += st.length;
    }
    r.read = i;
    r.written = out->size();
    return r;
}

void same(const Result& got, const Result& want, const char* what) {
    check(got.read == want.read, what);
    check(got.written == want.written, what);
    check(got.ok == want.ok, what);
    check(got.full == want.full, what);
    check(got.terminated == want.terminated, what);
    check(got.replaced == want.replaced, what);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const unsigned control = data[0];
    const Policy policies[] = {Policy::Strict, Policy::Replace, Policy::ReplaceEachByte, Policy::Markup};
    const Policy policy = policies[control & 3];
    const bool toUtf16 = (control & 4) == 0;
    const std::size_t cut = control >> 3;   // capacity = whole output minus cut
    ++data;
    --size;
    for (int level = 0; level <= 2; ++level) {
        platform::utf::forceSimdLevel(level);
        if (toUtf16) {
            const char* in = reinterpret_cast<const char*>(data);
            auto step = [policy](const unsigned char* s, std::size_t n) { return decodeStep(s, n, policy); };
            std::u16string want;
            const Result full = reference<unsigned char, char16_t>(data, size, ~std::size_t(0), policy, step, &want);
            same(platform::utf::utf8To16(in, size, nullptr, 0, policy), full, "decode count");
            // Room for the input's bound; then exactly the output, with a guard unit after it.
            std::vector<char16_t> buf(size + 1, u'\x7777');
            same(platform::utf::utf8To16(in, size, buf.data(), size, policy), full, "decode");
            check(std::u16string(buf.data(), full.written) == want, "decode output");
            std::vector<char16_t> exact(want.size() + 1, u'\x7777');
            same(platform::utf::utf8To16(in, size, exact.data(), platform::utf::kExactOutput, policy), full, "decode exact");
            check(std::u16string(exact.data(), full.written) == want && exact[want.size()] == u'\x7777', "decode exact output");
            // A bounded buffer stops before the first character that does not fit.
            const std::size_t capacity = want.size() > cut ? want.size() - cut : 0;
            std::u16string wantCut;
            const Result bounded = reference<unsigned char, char16_t>(data, size, capacity, policy, step, &wantCut);
            std::vector<char16_t> small(capacity + 1, u'\x7777');
            same(platform::utf::utf8To16(in, size, small.data(), capacity, policy), bounded, "decode bounded");
            check(std::u16string(small.data(), bounded.written) == wantCut && small[capacity] == u'\x7777', "decode bounded output");
        } else {
            const std::u16string text = nxfuzz::unitsOf(data, size);
            const std::size_t n = text.size();
            auto step = [policy](const char16_t* s, std::size_t left) { return encodeStep(s, left, policy); };
            std::string want;
            const Result full = reference<char16_t, char>(text.data(), n, ~std::size_t(0), policy, step, &want);
            same(platform::utf::utf16To8(text.data(), n, nullptr, 0, policy), full, "encode count");
            std::vector<char> buf(3 * n + 1, '\x77');
            same(platform::utf::utf16To8(text.data(), n, buf.data(), 3 * n, policy), full, "encode");
            check(std::string(buf.data(), full.written) == want, "encode output");
            const std::size_t capacity = want.size() > cut ? want.size() - cut : 0;
            std::string wantCut;
            const Result bounded = reference<char16_t, char>(text.data(), n, capacity, policy, step, &wantCut);
            std::vector<char> small(capacity + 1, '\x77');
            same(platform::utf::utf16To8(text.data(), n, small.data(), capacity, policy), bounded, "encode bounded");
            check(std::string(small.data(), bounded.written) == wantCut && small[capacity] == '\x77', "encode bounded output");
        }
    }
    platform::utf::forceSimdLevel(-1);
    return 0;
}
