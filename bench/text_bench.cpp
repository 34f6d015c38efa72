// Text containers and UTF-8 <-> UTF-16 conversion against the standard strings and three
// converters from Debian: ICU (u_strFromUTF8 / u_strToUTF8), utfcpp (checked utf8to16 /
// utf16to8) and glibc iconv. The conversions run on 1 MiB of ASCII and 1 MiB of mixed
// Chinese text into preallocated buffers, all of them validating (strict) unless the name says
// otherwise; throughput is counted in bytes of UTF-8 text for both directions. The library's
// converter is the platform layer's (compiled into this program, as it is internal); the
// public interfaces follow: NxTextCodec (strict) and NxString (replacing) with their
// allocation, and the document statics (lenient) into preallocated buffers like ICU's.
#include "platform/codepage.h"
#include "text/text.h"
#include "xml/xml.h"

#include <benchmark/benchmark.h>

#include <iconv.h>
#include <unicode/ustring.h>
#include <utf8.h>

#include <cstring>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kTextBytes = 1 << 20;

std::string repeatTo(const std::string& piece, std::size_t bytes) {
    std::string s;
    while (s.size() + piece.size() <= bytes)
        s += piece;
    return s;
}

const std::string& asciiText() {
    static const std::string s =
        repeatTo("The quick brown fox jumps over the lazy dog; pack my box with 5 dozen jugs.\n",
                 kTextBytes);
    return s;
}

// Mostly three-byte characters with the ASCII digits, Latin words and punctuation of real text.
const std::string& cjkText() {
    static const std::string s = repeatTo(
        "\xE6\xB8\xB8\xE6\x88\x8F\xE7\x9B\xB4\xE6\x92\xAD\xE4\xB8\x8E\xE5\xBD\x95\xE5\x88\xB6"
        "\xE5\xBC\x95\xE6\x93\x8E\xE5\x9C\xA8\xE6\x8D\x95\xE8\x8E\xB7\xE8\xA7\x86\xE9\xA2\x91"
        "\xE6\x97\xB6\xEF\xBC\x8C\xE9\x9C\x80\xE8\xA6\x81\xE6\x8A\x8A\xE6\x96\x87\xE6\x9C\xAC"
        "\xE5\x9C\xA8 UTF-8 \xE5\x92\x8C UTF-16 \xE4\xB9\x8B\xE9\x97\xB4\xE8\xBD\xAC\xE6\x8D\xA2"
        "\xE3\x80\x82\xE7\x89\x88\xE6\x9C\xAC 2.1 \xE6\x94\xAF\xE6\x8C\x81\xE6\x9B\xB4\xE5\xA4\x9A"
        "\xE8\xAF\xAD\xE8\xA8\x80\xEF\xBC\x81\n",
        kTextBytes);
    return s;
}

const std::string& textFor(const benchmark::State& state) {
    return state.range(0) == 0 ? asciiText() : cjkText();
}

std::u16string toUtf16(const std::string& s) {
    std::u16string out(s.size(), u'\0');
    int n = platform::multiByteToWideChar(65001, 0, s.data(), static_cast<int>(s.size()),
                                          &out[0], static_cast<int>(out.size()));
    out.resize(static_cast<std::size_t>(n));
    return out;
}

void label(benchmark::State& state, const std::string& utf8) {
    state.SetBytesProcessed(static_cast<long long>(state.iterations()) *
                            static_cast<long long>(utf8.size()));
    state.SetLabel(state.range(0) == 0 ? "ascii" : "cjk");
}

// ---------------------------------------------------------------------------------------------
// UTF-8 -> UTF-16

void Utf8To16_Nx(benchmark::State& state) {
    const std::string& in = textFor(state);
    std::vector<char16_t> out(in.size());
    for (auto _ : state) {
        int n = platform::multiByteToWideChar(65001, platform::kMbErrInvalidChars, in.data(),
                                              static_cast<int>(in.size()), out.data(),
                                              static_cast<int>(out.size()));
        benchmark::DoNotOptimize(n);
    }
    label(state, in);
}

void Utf8To16_NxLenient(benchmark::State& state) {
    const std::string& in = textFor(state);
    std::vector<char16_t> out(in.size());
    for (auto _ : state) {
        int n = platform::multiByteToWideChar(65001, 0, in.data(), static_cast<int>(in.size()),
                                              out.data(), static_cast<int>(out.size()));
        benchmark::DoNotOptimize(n);
    }
    label(state, in);
}

void Utf8To16_NxStringFromUtf8(benchmark::State& state) {
    const std::string& in = textFor(state);
    for (auto _ : state) {
        NxString s = NxString::fromUtf8(in.data(), static_cast<int>(in.size()));
        benchmark::DoNotOptimize(s.constString());
    }
    label(state, in);
}

void Utf8To16_NxTextCodec(benchmark::State& state) {
    const std::string& in = textFor(state);
    const NxTextCodec codec(NxTextCodec::Utf8);
    for (auto _ : state) {
        NxString s = codec.toUnicode(in.data(), static_cast<int>(in.size()));
        benchmark::DoNotOptimize(s.constString());
    }
    label(state, in);
}

void Utf8To16_CMarkup(benchmark::State& state) {
    const std::string& in = textFor(state);
    std::vector<char16_t> out(in.size() + 1);
    for (auto _ : state) {
        int n = CMarkup::UTF8To16(out.data(), in.data(), static_cast<int>(in.size()));
        benchmark::DoNotOptimize(n);
    }
    label(state, in);
}

void Utf8To16_Icu(benchmark::State& state) {
    const std::string& in = textFor(state);
    std::vector<UChar> out(in.size());
    for (auto _ : state) {
        int32_t n = 0;
        UErrorCode err = U_ZERO_ERROR;
        u_strFromUTF8(out.data(), static_cast<int32_t>(out.size()), &n, in.data(),
                      static_cast<int32_t>(in.size()), &err);
        benchmark::DoNotOptimize(n);
        if (U_FAILURE(err))
            state.SkipWithError("ICU failed");
    }
    label(state, in);
}

void Utf8To16_Utfcpp(benchmark::State& state) {
    const std::string& in = textFor(state);
    std::vector<char16_t> out(in.size());
    for (auto _ : state) {
        char16_t* end = utf8::utf8to16(in.begin(), in.end(), out.data());
        benchmark::DoNotOptimize(end);
    }
    label(state, in);
}

void Utf8To16_Iconv(benchmark::State& state) {
    const std::string& in = textFor(state);
    std::vector<char16_t> out(in.size());
    iconv_t cd = iconv_open("UTF-16LE", "UTF-8");
    for (auto _ : state) {
        char* src = const_cast<char*>(in.data());
        std::size_t srcLeft = in.size();
        char* dst = reinterpret_cast<char*>(out.data());
        std::size_t dstLeft = out.size() * 2;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        std::size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        benchmark::DoNotOptimize(r);
    }
    iconv_close(cd);
    label(state, in);
}

// ---------------------------------------------------------------------------------------------
// UTF-16 -> UTF-8

void Utf16To8_Nx(benchmark::State& state) {
    const std::string& utf8 = textFor(state);
    const std::u16string in = toUtf16(utf8);
    std::vector<char> out(in.size() * 3);
    for (auto _ : state) {
        int n = platform::wideCharToMultiByte(65001, platform::kWcErrInvalidChars, in.data(),
                                              static_cast<int>(in.size()), out.data(),
                                              static_cast<int>(out.size()), nullptr, nullptr);
        benchmark::DoNotOptimize(n);
    }
    label(state, utf8);
}

void Utf16To8_NxStringToUtf8(benchmark::State& state) {
    const std::string& utf8 = textFor(state);
    const NxString in = NxString::fromUtf8(utf8.data(), static_cast<int>(utf8.size()));
    for (auto _ : state) {
        NxByteArray b = in.toUtf8();
        benchmark::DoNotOptimize(b.constData());
    }
    label(state, utf8);
}

void Utf16To8_NxTextCodec(benchmark::State& state) {
    const std::string& utf8 = textFor(state);
    const std::u16string in = toUtf16(utf8);
    const NxTextCodec codec(NxTextCodec::Utf8);
    for (auto _ : state) {
        NxByteArray b = codec.fromUnicode(in.data(), static_cast<int>(in.size()));
        benchmark::DoNotOptimize(b.constData());
    }
    label(state, utf8);
}

void Utf16To8_CMarkup(benchmark::State& state) {
    const std::string& utf8 = textFor(state);
    const std::u16string in = toUtf16(utf8);
    std::vector<char> out(in.size() * 3 + 1);
    for (auto _ : state) {
        int n = CMarkup::UTF16To8(out.data(), in.c_str(), static_cast<int>(out.size()));
        benchmark::DoNotOptimize(n);
    }
    label(state, utf8);
}

void Utf16To8_Icu(benchmark::State& state) {
    const std::string& utf8 = textFor(state);
    const std::u16string in = toUtf16(utf8);
    std::vector<char> out(in.size() * 3);
    for (auto _ : state) {
        int32_t n = 0;
        UErrorCode err = U_ZERO_ERROR;
        u_strToUTF8(out.data(), static_cast<int32_t>(out.size()), &n, in.data(),
                    static_cast<int32_t>(in.size()), &err);
        benchmark::DoNotOptimize(n);
        if (U_FAILURE(err))
            state.SkipWithError("ICU failed");
    }
    label(state, utf8);
}

void Utf16To8_Utfcpp(benchmark::State& state) {
    const std::string& utf8 = textFor(state);
    const std::u16string in = toUtf16(utf8);
    std::vector<char> out(in.size() * 3);
    for (auto _ : state) {
        char* end = utf8::utf16to8(in.begin(), in.end(), out.data());
        benchmark::DoNotOptimize(end);
    }
    label(state, utf8);
}

void Utf16To8_Iconv(benchmark::State& state) {
    const std::string& utf8 = textFor(state);
    const std::u16string in = toUtf16(utf8);
    std::vector<char> out(in.size() * 3);
    iconv_t cd = iconv_open("UTF-8", "UTF-16LE");
    for (auto _ : state) {
        char* src = reinterpret_cast<char*>(const_cast<char16_t*>(in.data()));
        std::size_t srcLeft = in.size() * 2;
        char* dst = out.data();
        std::size_t dstLeft = out.size();
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        std::size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        benchmark::DoNotOptimize(r);
    }
    iconv_close(cd);
    label(state, utf8);
}

// ---------------------------------------------------------------------------------------------
// Containers

constexpr int kStringUnits = 1 << 19;   // 1 MiB of UTF-16
constexpr int kAppends = 1000000;

void Copy1MiB_NxString(benchmark::State& state) {
    NxString s(std::u16string(kStringUnits, u'x').c_str());
    for (auto _ : state) {
        NxString copy(s);
        benchmark::DoNotOptimize(copy.constString());
    }
}

void Copy1MiB_U16string(benchmark::State& state) {
    std::u16string s(kStringUnits, u'x');
    for (auto _ : state) {
        std::u16string copy(s);
        benchmark::DoNotOptimize(copy.data());
    }
}

void Append1M_NxStringUnit(benchmark::State& state) {
    for (auto _ : state) {
        NxString s;
        for (int i = 0; i < kAppends; ++i)
            s.append(static_cast<char16_t>(u'a' + (i & 15)));
        benchmark::DoNotOptimize(s.constString());
    }
    state.SetItemsProcessed(state.iterations() * kAppends);
}

void Append1M_U16stringUnit(benchmark::State& state) {
    for (auto _ : state) {
        std::u16string s;
        for (int i = 0; i < kAppends; ++i)
            s.push_back(static_cast<char16_t>(u'a' + (i & 15)));
        benchmark::DoNotOptimize(s.data());
    }
    state.SetItemsProcessed(state.iterations() * kAppends);
}

void Append1M_StringUnit(benchmark::State& state) {
    for (auto _ : state) {
        std::string s;
        for (int i = 0; i < kAppends; ++i)
            s.push_back(static_cast<char>('a' + (i & 15)));
        benchmark::DoNotOptimize(s.data());
    }
    state.SetItemsProcessed(state.iterations() * kAppends);
}

const char16_t* const kWords16[] = {u"log ", u"line ", u"x ", u"frame "};
const char* const kWords8[] = {"log ", "line ", "x ", "frame "};

void Append1M_NxStringWord(benchmark::State& state) {
    for (auto _ : state) {
        NxString s;
        for (int i = 0; i < kAppends; ++i)
            s.append(kWords16[i & 3]);
        benchmark::DoNotOptimize(s.constString());
    }
    state.SetItemsProcessed(state.iterations() * kAppends);
}

void Append1M_U16stringWord(benchmark::State& state) {
    for (auto _ : state) {
        std::u16string s;
        for (int i = 0; i < kAppends; ++i)
            s.append(kWords16[i & 3]);
        benchmark::DoNotOptimize(s.data());
    }
    state.SetItemsProcessed(state.iterations() * kAppends);
}

void Append1M_StringWord(benchmark::State& state) {
    for (auto _ : state) {
        std::string s;
        for (int i = 0; i < kAppends; ++i)
            s.append(kWords8[i & 3]);
        benchmark::DoNotOptimize(s.data());
    }
    state.SetItemsProcessed(state.iterations() * kAppends);
}

// A haystack of ASCII prose (many partial matches of the needle's first unit) with the needle
// once, near the end.
std::u16string searchHaystack() {
    std::u16string hay = toUtf16(asciiText()).substr(0, kStringUnits - 64);
    hay += u"needle in the haystack";
    hay.resize(kStringUnits, u' ');
    return hay;
}

void IndexOf1MiB_NxString(benchmark::State& state) {
    const std::u16string h = searchHaystack();
    NxString hay(h.c_str());
    NxString needle(u"needle in the haystack");
    for (auto _ : state)
        benchmark::DoNotOptimize(hay.indexOf(needle, 0));
    state.SetBytesProcessed(state.iterations() * kStringUnits * 2);
}

void IndexOf1MiB_U16string(benchmark::State& state) {
    const std::u16string hay = searchHaystack();
    const std::u16string needle(u"needle in the haystack");
    for (auto _ : state)
        benchmark::DoNotOptimize(hay.find(needle));
    state.SetBytesProcessed(state.iterations() * kStringUnits * 2);
}

}  // namespace

// Arg 0: ASCII text, 1: mixed Chinese text.
BENCHMARK(Utf8To16_Nx)->Arg(0)->Arg(1);
BENCHMARK(Utf8To16_Icu)->Arg(0)->Arg(1);
BENCHMARK(Utf8To16_Utfcpp)->Arg(0)->Arg(1);
BENCHMARK(Utf8To16_Iconv)->Arg(0)->Arg(1);
BENCHMARK(Utf8To16_NxLenient)->Arg(0)->Arg(1);
BENCHMARK(Utf8To16_NxStringFromUtf8)->Arg(0)->Arg(1);
BENCHMARK(Utf8To16_NxTextCodec)->Arg(0)->Arg(1);
BENCHMARK(Utf8To16_CMarkup)->Arg(0)->Arg(1);
BENCHMARK(Utf16To8_Nx)->Arg(0)->Arg(1);
BENCHMARK(Utf16To8_Icu)->Arg(0)->Arg(1);
BENCHMARK(Utf16To8_Utfcpp)->Arg(0)->Arg(1);
BENCHMARK(Utf16To8_Iconv)->Arg(0)->Arg(1);
BENCHMARK(Utf16To8_NxStringToUtf8)->Arg(0)->Arg(1);
BENCHMARK(Utf16To8_NxTextCodec)->Arg(0)->Arg(1);
BENCHMARK(Utf16To8_CMarkup)->Arg(0)->Arg(1);
BENCHMARK(Copy1MiB_NxString);
BENCHMARK(Copy1MiB_U16string);
BENCHMARK(Append1M_NxStringUnit)->Unit(benchmark::kMillisecond);
BENCHMARK(Append1M_U16stringUnit)->Unit(benchmark::kMillisecond);
BENCHMARK(Append1M_StringUnit)->Unit(benchmark::kMillisecond);
BENCHMARK(Append1M_NxStringWord)->Unit(benchmark::kMillisecond);
BENCHMARK(Append1M_U16stringWord)->Unit(benchmark::kMillisecond);
BENCHMARK(Append1M_StringWord)->Unit(benchmark::kMillisecond);
BENCHMARK(IndexOf1MiB_NxString)->Unit(benchmark::kMicrosecond);
BENCHMARK(IndexOf1MiB_U16string)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
