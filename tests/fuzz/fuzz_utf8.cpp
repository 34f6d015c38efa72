// Differential fuzz target of the UTF-8 converter: at every vector level the processor has
// (portable, SSSE3, AVX2) and under every policy, both directions must give what a plain
// one-code-point-at-a-time converter gives: the same units or bytes, the same position of a
// strict fault, the same stop before a character that does not fit a bounded buffer, and no
// write beyond the capacity given.
// Byte 0: bits 0-1 the policy (strict, replacing subparts, replacing bytes, document), bit 2
// the direction, bits 3-7 how many units the bounded buffer lacks.
#include "fuzz_util.h"
#include "platform/utf8.h"
#include "xml/xml.h"

#include <algorithm>
#include <string>
#include <vector>

using nxfuzz::check;
using platform::utf::Policy;
using platform::utf::Result;

namespace {

// One reference step: the input it takes, its output, and whether it is a strict fault or,
// under the document policy, the zero character that ends the text.
template <typename Unit> struct Step {
    std::size_t length = 0;
    std::basic_string<Unit> out;
    bool fault = false, zero = false;
};

void put16(std::u16string& out, unsigned cp) {
    if (cp > 0xFFFF) {
        out += static_cast<char16_t>(0xD800 | (((cp - 0x10000) >> 10) & 0x3FF));
        cp = 0xDC00 | (cp & 0x3FF);
    }
    out += static_cast<char16_t>(cp);
}

// The well-formed byte sequences: the second byte's range depends on the lead.
Step<char16_t> decodeStep(const unsigned char* s, std::size_t n, Policy policy) {
    Step<char16_t> st;
    if (policy == Policy::Markup) {
        // The document statics' own single-character decoder on a zero-terminated copy (a zero
        // ends the decoding, so it never reads past the input).
        char copy[5] = {0, 0, 0, 0, 0};
        for (std::size_t k = 0; k < 4 && k < n; ++k)
            copy[k] = static_cast<char>(s[k]);
        const char* p = copy;
        const int c = CMarkup::DecodeCharUTF8(p);
        st.length = std::min(static_cast<std::size_t>(p - copy), n);
        st.zero = c == 0;
        st.fault = c < 0;
        if (!st.zero)
            put16(st.out, c < 0 ? '?' : static_cast<unsigned>(c));
        return st;
    }
    const unsigned b = s[0], masks[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    const std::size_t need =
        b < 0x80 ? 1 : b < 0xC2 ? 0 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : b < 0xF5 ? 4 : 0;
    const unsigned lo = b == 0xE0 ? 0xA0 : b == 0xF0 ? 0x90 : 0x80;
    const unsigned hi = b == 0xED ? 0x9F : b == 0xF4 ? 0x8F : 0xBF;
    unsigned cp = b & masks[need];
    std::size_t k = 1;
    for (; k < need && k < n; ++k) {
        if (s[k] < (k == 1 ? lo : 0x80) || s[k] > (k == 1 ? hi : 0xBF))
            break;
        cp = (cp << 6) | (s[k] & 0x3F);
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
        if (!pair && (policy != Policy::Markup || n < 2)) {
            st.fault = true;
            st.out = policy == Policy::Markup ? "?" : "\xEF\xBF\xBD";
            return st;
        }
        cp = (((cp & 0x3FF) << 10) | (s[1] & 0x3FFu)) + 0x10000;
        st.length = 2;
    }
    const unsigned leads[] = {0, 0xC0, 0xE0, 0xF0};
    const int trail = cp < 0x80 ? 0 : cp < 0x800 ? 1 : cp < 0x10000 ? 2 : 3;
    st.out += static_cast<char>(leads[trail] | (cp >> (6 * trail)));
    for (int k = trail - 1; k >= 0; --k)
        st.out += static_cast<char>(0x80 | ((cp >> (6 * k)) & 0x3F));
    return st;
}

// The reference conversion with a capacity.
template <typename In, typename Out>
Result reference(const In* in, std::size_t n, std::size_t capacity, Policy policy,
                 Step<Out> (*step)(const In*, std::size_t, Policy), std::basic_string<Out>* out) {
    Result r;
    std::size_t i = 0;
    while (i < n) {
        const Step<Out> st = step(in + i, n - i, policy);
        if (st.zero) {
            r.terminated = true;
            i += st.length;
            break;
        }
        r.ok = !st.fault || policy != Policy::Strict;
        r.full = r.ok && capacity - out->size() < st.out.size();
        if (!r.ok || r.full)
            break;
        *out += st.out;
        r.replaced = r.replaced || st.fault;
        i += st.length;
    }
    r.read = i;
    r.written = out->size();
    return r;
}

void same(const Result& got, const Result& want, const std::string& what) {
    check(got.read == want.read && got.written == want.written && got.ok == want.ok &&
              got.full == want.full && got.terminated == want.terminated &&
              got.replaced == want.replaced,
          what.c_str());
}

// One direction against the reference: the count, then a buffer with room for the input's
// bound, one exactly as long as the output (given as kExactOutput), and one `cut` units short
// (which must stop before the first character that does not fit), each with a guard unit after
// it.
template <typename In, typename Out, typename Convert>
void differential(const In* in, std::size_t n, std::size_t bound, std::size_t cut, Policy policy,
                  Step<Out> (*step)(const In*, std::size_t, Policy), Convert convert) {
    std::basic_string<Out> want, wantCut;
    const Result full = reference(in, n, ~std::size_t(0), policy, step, &want);
    same(convert(nullptr, 0), full, "count");
    const std::size_t capacity = want.size() > cut ? want.size() - cut : 0;
    const Result bounded = reference(in, n, capacity, policy, step, &wantCut);
    struct Run {
        std::size_t room, capacity;
        const Result& want;
        const std::basic_string<Out>& text;
        const char* what;
    };
    const Run runs[] = {{bound, bound, full, want, "room for the bound"},
                        {want.size(), platform::utf::kExactOutput, full, want, "exact"},
                        {capacity, capacity, bounded, wantCut, "bounded"}};
    for (const Run& r : runs) {
        std::vector<Out> buf(r.room + 1, static_cast<Out>(0x7777));
        same(convert(buf.data(), r.capacity), r.want, r.what);
        check(std::basic_string<Out>(buf.data(), r.want.written) == r.text, r.what);
        check(buf[r.room] == static_cast<Out>(0x7777),
              (std::string(r.what) + ": a write past the end").c_str());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const Policy policy = static_cast<Policy>(data[0] & 3);
    const bool toUtf16 = (data[0] & 4) == 0;
    const std::size_t cut = data[0] >> 3;
    const char* bytes = reinterpret_cast<const char*>(data + 1);
    const std::u16string text = nxfuzz::unitsOf(data + 1, size - 1);
    for (int level = 0; level <= 2; ++level) {
        platform::utf::forceSimdLevel(level);
        const std::size_t n = toUtf16 ? size - 1 : text.size();
        if (toUtf16)
            differential(data + 1, n, n, cut, policy, decodeStep,
                         [&](char16_t* out, std::size_t room) {
                             return platform::utf::utf8To16(bytes, n, out, room, policy);
                         });
        else
            differential(text.data(), n, 3 * n, cut, policy, encodeStep,
                         [&](char* out, std::size_t room) {
                             return platform::utf::utf16To8(text.data(), n, out, room, policy);
                         });
    }
    platform::utf::forceSimdLevel(-1);
    return 0;
}
