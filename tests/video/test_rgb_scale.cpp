// RGBScale with the real scaler: its output must be exactly the scaler's own output for the
// formats, flags, strides and row order the object is meant to use.
#include "video/video.h"
#include "video/video_internal.h"
#include "platform/dl.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <random>
#include <vector>

#ifdef NXTEST_HAVE_SWSCALE
extern "C" {
#include <libavutil/log.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}
#endif

// Reaches the object's private state; counts the contexts it asks the scaler for.
struct RGBScaleTestAccess {
    static SwsContext* context(const RGBScale& s) { return s.m_context; }
    static int flags(const RGBScale& s) { return s.m_contextFlags; }
    static bool loaded(const RGBScale& s) { return s.m_hDll != nullptr; }
    static RGBScale::GetContextFn getContext(const RGBScale& s) { return s.m_getContext; }

    static inline RGBScale::GetContextFn real = nullptr;
    static inline int builds = 0;
    static SwsContext* counting(int sw, int sh, int sf, int dw, int dh, int df, int flags,
                                void* a, void* b, const double* p) {
        ++builds;
        return real(sw, sh, sf, dw, dh, df, flags, a, b, p);
    }
    static void countBuilds(RGBScale& s) {
        real = s.m_getContext;
        builds = 0;
        s.m_getContext = &counting;
    }
};

namespace {

using Bytes = std::vector<unsigned char>;
using Access = RGBScaleTestAccess;
constexpr unsigned char kFill = 0xCD;  // destination bytes nobody wrote

Bytes randomBytes(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    std::generate(b.begin(), b.end(), [&] { return static_cast<unsigned char>(rng()); });
    return b;
}

#ifdef NXTEST_HAVE_SWSCALE

// The scaler notes on standard error that some formats lack full chroma interpolation.
const int kQuietScaler = (av_log_set_level(AV_LOG_ERROR), 0);

// Every layout with the scaler's own format for it and its bytes per pixel.
const struct Layout { RGBScale::RgbType type; AVPixelFormat av; int bytes; } kLayouts[] = {
    {RGBScale::RGB24, AV_PIX_FMT_RGB24, 3},     {RGBScale::BGR24, AV_PIX_FMT_BGR24, 3},
    {RGBScale::BGRA32, AV_PIX_FMT_BGRA, 4},     {RGBScale::RGBA32, AV_PIX_FMT_RGBA, 4},
    {RGBScale::RGB565, AV_PIX_FMT_RGB565LE, 2}, {RGBScale::RGB555, AV_PIX_FMT_RGB555BE, 2},
    {RGBScale::RGB32, AV_PIX_FMT_BGRA, 4}};

struct Frame { int w, h, stride; AVPixelFormat av; };

// Converts a random frame with `scale` (already set up) and expects exactly the bytes of a
// direct scaler call with `flags`; with `flip` the rows are read bottom-up.
void expectScalersOwnBytes(RGBScale& scale, const Frame& s, const Frame& d, int flags,
                           bool flip = false, unsigned seed = 1) {
    const Bytes src = randomBytes(static_cast<std::size_t>(s.stride) * s.h, seed);
    Bytes got(static_cast<std::size_t>(d.stride) * d.h, kFill), want(got);
    if (s.av == AV_PIX_FMT_YUYV422)
        scale.convertYUV2ToRGB(const_cast<unsigned char*>(src.data()), got.data());
    else
        scale.convertRGBToRGB(const_cast<unsigned char*>(src.data()), got.data(), flip);
    EXPECT_EQ(flags, Access::flags(scale)) << "16 point sampling, 4 bicubic";

    SwsContext* c = sws_getContext(s.w, s.h, s.av, d.w, d.h, d.av, flags, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, c);
    const uint8_t* sp[4] = {src.data() + (flip ? static_cast<std::ptrdiff_t>(s.h - 1) * s.stride : 0)};
    const int ss[4] = {flip ? -s.stride : s.stride};
    uint8_t* const dp[4] = {want.data()};
    const int ds[4] = {d.stride};
    sws_scale(c, sp, ss, 0, s.h, dp, ds);
    sws_freeContext(c);
    EXPECT_EQ(want, got);
}

// Equal sizes are point-sampled; differing sizes and every YUYV source are scaled bicubically.
TEST(RGBScale, GivesTheScalersOwnBytesForEveryLayoutPairAndScaling) {
    const int w = 37, h = 19;  // odd sizes, padded rows
    for (const Layout& from : kLayouts)
        for (const Layout& to : kLayouts)
            for (bool flip : {false, true}) {
                SCOPED_TRACE(testing::Message() << "from " << from.type << " to " << to.type
                                                << " flip " << flip);
                const Frame s{w, h, w * from.bytes + 5, from.av}, d{w, h, w * to.bytes + 3, to.av};
                RGBScale scale;
                scale.initRGBToRGB(w, h, w, h, s.stride, d.stride, from.type, to.type);
                expectScalersOwnBytes(scale, s, d, SWS_POINT, flip, 7 + from.type * 8 + to.type);
            }
    const Frame bgra{64, 48, 256, AV_PIX_FMT_BGRA}, yuyv{32, 16, 64, AV_PIX_FMT_YUYV422};
    const struct { Frame s, d; } cases[] = {
        {bgra, {40, 30, 120, AV_PIX_FMT_RGB24}}, {bgra, {64, 30, 192, AV_PIX_FMT_RGB24}},
        {bgra, {40, 48, 120, AV_PIX_FMT_RGB24}}, {yuyv, {32, 16, 136, AV_PIX_FMT_BGRA}},
        {yuyv, {20, 10, 88, AV_PIX_FMT_BGRA}}};  // padded YUYV destination rows
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "format " << c.s.av << " " << c.s.w << "x" << c.s.h
                                        << " to " << c.d.w << "x" << c.d.h);
        RGBScale scale;
        if (c.s.av == AV_PIX_FMT_YUYV422)
            scale.initYUV2ToRGB(c.s.w, c.s.h, c.d.w, c.d.h, c.d.stride, RGBScale::BGRA32);
        else
            scale.initRGBToRGB(c.s.w, c.s.h, c.d.w, c.d.h, c.s.stride, c.d.stride,
                               RGBScale::BGRA32, RGBScale::RGB24);
        expectScalersOwnBytes(scale, c.s, c.d, SWS_BICUBIC);
    }
}

TEST(RGBScale, KeepsItsContextUntilTheGeometryOrTheLayoutsChange) {
    using T = RGBScale;
    T scale;
    Access::countBuilds(scale);
    // Each set-up returns how many contexts have been built so far.
    const auto rgb = [&](int ss, int ds, T::RgbType from, T::RgbType to) {
        scale.initRGBToRGB(16, 8, 16, 8, ss, ds, from, to);
        return Access::builds;
    };
    const auto yuyv = [&] {
        scale.initYUV2ToRGB(16, 8, 16, 8, 52, T::BGR24);
        return Access::builds;
    };
    EXPECT_EQ(1, rgb(64, 48, T::BGRA32, T::RGB24));
    EXPECT_EQ(1, rgb(64, 48, T::BGRA32, T::RGB24)) << "unchanged";
    EXPECT_EQ(2, rgb(68, 48, T::BGRA32, T::RGB24)) << "source stride";
    EXPECT_EQ(3, rgb(68, 52, T::BGRA32, T::RGB24)) << "destination stride";
    EXPECT_EQ(3, rgb(68, 52, T::RGB32, T::RGB24)) << "another name of the same format";
    EXPECT_EQ(4, rgb(68, 52, T::BGRA32, T::BGR24)) << "layout only";
    EXPECT_EQ(5, yuyv()) << "same geometry, YUYV source";
    EXPECT_EQ(5, yuyv()) << "YUYV unchanged";
    Bytes src(68 * 8, 1), untouched(52 * 8, kFill);
    scale.convertRGBToRGB(src.data(), untouched.data(), false);
    EXPECT_EQ(Bytes(untouched.size(), kFill), untouched) << "no RGB conversion on a YUYV context";
    scale.free();
    EXPECT_EQ(nullptr, Access::context(scale));
    EXPECT_EQ(6, yuyv()) << "no context after free";
    EXPECT_EQ(6, rgb(68, 52, static_cast<T::RgbType>(7), T::RGB24)) << "unknown source layout";
    EXPECT_EQ(nullptr, Access::context(scale));
    EXPECT_EQ(6, rgb(68, 52, T::BGRA32, static_cast<T::RgbType>(-1))) << "unknown destination";
    EXPECT_EQ(nullptr, Access::context(scale));
    EXPECT_EQ(7, rgb(68, 52, T::BGRA32, T::RGB24)) << "back to RGB";
    EXPECT_EQ(8, rgb(68, 52, T::RGBA32, T::BGR24)) << "both layouts";
    // The last change converts with the new layouts, not a stale context.
    expectScalersOwnBytes(scale, {16, 8, 68, AV_PIX_FMT_RGBA}, {16, 8, 52, AV_PIX_FMT_BGR24}, SWS_POINT);
    // A geometry the scaler refuses (no destination pixels) leaves no context to convert with.
    RGBScale refused;
    refused.initRGBToRGB(16, 8, 0, 0, 68, 0, T::RGBA32, T::BGR24);
    EXPECT_EQ(nullptr, Access::context(refused));
}

TEST(RGBScale, CopiesConvertAloneWithContextsOfTheirOwn) {
    const int w = 12, h = 10;
    auto original = std::make_unique<RGBScale>();
    original->initRGBToRGB(w, h, w, h, w * 4, w * 3, RGBScale::BGRA32, RGBScale::RGB24);
    RGBScale copy(*original), assigned;
    assigned.initYUV2ToRGB(8, 8, 8, 8, 32, RGBScale::BGRA32);
    assigned = *original;
    EXPECT_NE(nullptr, Access::context(copy));
    EXPECT_NE(Access::context(*original), Access::context(copy));
    EXPECT_NE(Access::context(copy), Access::context(assigned));
    original.reset();  // releases only its own context and library reference
    assigned = assigned;
    EXPECT_NE(nullptr, Access::context(assigned)) << "self-assignment keeps the context";
    for (RGBScale* s : {&copy, &assigned})
        expectScalersOwnBytes(*s, {w, h, w * 4, AV_PIX_FMT_BGRA}, {w, h, w * 3, AV_PIX_FMT_RGB24},
                              SWS_POINT);
}

TEST(RGBScale, PrefersTheScalerInItsOwnFolder) {
    // A copy of the system's scaler in a folder of its own is the one that is loaded.
    const std::filesystem::path system(platform::modulePath(reinterpret_cast<const void*>(&sws_scale)));
    ASSERT_TRUE(std::filesystem::exists(system));
    nxtest::TempDir folder("video-ownscaler");
    std::filesystem::copy_file(system, folder.path() / system.filename());
    nxvideo::setScalerSearch(folder.path().u16string(), false);
    // Only the own folder is searched: every candidate lies in it.
    const std::u16string candidates = nxvideo::scalerCandidates();
    ASSERT_FALSE(candidates.empty());
    for (std::size_t at = 0, end; (end = candidates.find(u'\n', at)) != std::u16string::npos; at = end + 1)
        EXPECT_EQ(0u, candidates.compare(at, folder.path().u16string().size(), folder.path().u16string()));
    {
        RGBScale scale;
        ASSERT_TRUE(Access::loaded(scale));
        const std::filesystem::path used(
            platform::modulePath(reinterpret_cast<const void*>(Access::getContext(scale))));
        EXPECT_TRUE(std::filesystem::equivalent(folder.path() / system.filename(), used));
        scale.initRGBToRGB(8, 8, 8, 8, 32, 24, RGBScale::BGRA32, RGBScale::RGB24);
        EXPECT_NE(nullptr, Access::context(scale));
    }
    nxvideo::setScalerSearch(u"", true);
}

#endif  // NXTEST_HAVE_SWSCALE

TEST(RGBScale, LeavesSourcesBelowFourByFourUntouched) {
    if (!Access::loaded(RGBScale()))
        GTEST_SKIP() << "no scaler installed";
    const Bytes src = randomBytes(64 * 64 * 4, 6);
    for (const auto& size : {std::make_pair(3, 10), std::make_pair(10, 3), std::make_pair(4, 4)}) {
        const int w = size.first, h = size.second;
        RGBScale scale;
        scale.initRGBToRGB(w, h, w, h, w * 4, w * 4, RGBScale::BGRA32, RGBScale::BGRA32);
        Bytes rgb(static_cast<std::size_t>(w) * 4 * h, kFill), yuyv(rgb);
        scale.convertRGBToRGB(const_cast<unsigned char*>(src.data()), rgb.data(), false);
        scale.initYUV2ToRGB(w, h, w, h, w * 4, RGBScale::BGRA32);
        scale.convertYUV2ToRGB(const_cast<unsigned char*>(src.data()), yuyv.data());
        const bool big = w >= 4 && h >= 4;
        EXPECT_EQ(big, rgb != Bytes(rgb.size(), kFill)) << w << "x" << h << " RGB";
        EXPECT_EQ(big, yuyv != Bytes(yuyv.size(), kFill)) << w << "x" << h << " YUYV";
    }
}

TEST(RGBScale, WithoutAScalerWorksAndConvertsNothing) {
    nxtest::TempDir empty("video-noscaler");
    nxvideo::setScalerSearch(empty.path().u16string(), false);
    const std::u16string tried = nxvideo::scalerCandidates();
    {
        RGBScale scale;
        EXPECT_FALSE(Access::loaded(scale));
        scale.init();
        scale.initRGBToRGB(16, 16, 8, 8, 64, 32, RGBScale::BGRA32, RGBScale::RGB24);
        scale.initYUV2ToRGB(16, 16, 8, 8, 32, RGBScale::BGRA32);
        EXPECT_EQ(nullptr, Access::context(scale));
        Bytes src(64 * 16, 1), dst(32 * 8, kFill);
        scale.convertRGBToRGB(src.data(), dst.data(), true);
        scale.convertYUV2ToRGB(src.data(), dst.data());
        EXPECT_EQ(Bytes(dst.size(), kFill), dst);
        RGBScale copy(scale);
        copy = scale;
        scale.uninit();
        scale.free();
    }
    nxvideo::setScalerSearch(u"", true);
    // The folder is searched first, with this library's own scaler generation first of all.
    const std::u16string first =
        (empty.path() / std::filesystem::path(platform::dlVersionedFileName(u"swscale", 2))).u16string();
    EXPECT_EQ(0u, tried.find(first + u"\n"));
    EXPECT_EQ(std::u16string::npos, tried.find(u"\n" + platform::dlVersionedFileName(u"swscale", 6)));
}

}  // namespace
