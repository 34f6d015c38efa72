// RGBScale with the real scaler: its output must be exactly the scaler's own output for the
// formats, flags, strides and row order the object is meant to use.
#include "video/video.h"
#include "video/video_internal.h"
#include "platform/dl.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
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

    static RGBScale::GetContextFn real;
    static int builds;
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
RGBScale::GetContextFn RGBScaleTestAccess::real = nullptr;
int RGBScaleTestAccess::builds = 0;

namespace {

using Bytes = std::vector<unsigned char>;
constexpr unsigned char kFill = 0xCD;  // destination bytes nobody wrote

Bytes randomBytes(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& x : b)
        x = static_cast<unsigned char>(rng());
    return b;
}

bool haveScaler() {
    RGBScale s;
    return RGBScaleTestAccess::loaded(s);
}

#ifdef NXTEST_HAVE_SWSCALE

int bytesPerPixel(RGBScale::RgbType t) {
    switch (t) {
    case RGBScale::RGB24: case RGBScale::BGR24: return 3;
    case RGBScale::RGB565: case RGBScale::RGB555: return 2;
    default: return 4;
    }
}

AVPixelFormat avFormat(RGBScale::RgbType t) {
    switch (t) {
    case RGBScale::RGB24: return AV_PIX_FMT_RGB24;
    case RGBScale::BGR24: return AV_PIX_FMT_BGR24;
    case RGBScale::BGRA32: return AV_PIX_FMT_BGRA;
    case RGBScale::RGBA32: return AV_PIX_FMT_RGBA;
    case RGBScale::RGB565: return AV_PIX_FMT_RGB565LE;
    case RGBScale::RGB555: return AV_PIX_FMT_RGB555BE;
    case RGBScale::RGB32: return AV_PIX_FMT_BGRA;
    }
    return AV_PIX_FMT_NONE;
}

// One frame through the scaler directly.
Bytes direct(int sw, int sh, AVPixelFormat sf, int sstride, int dw, int dh, AVPixelFormat df,
             int dstride, int flags, const Bytes& src, bool flip) {
    Bytes dst(static_cast<std::size_t>(dstride) * dh, kFill);
    SwsContext* c = sws_getContext(sw, sh, sf, dw, dh, df, flags, nullptr, nullptr, nullptr);
    EXPECT_NE(nullptr, c);
    const uint8_t* sp[4] = {src.data(), nullptr, nullptr, nullptr};
    int ss[4] = {sstride, 0, 0, 0};
    if (flip) {
        sp[0] = src.data() + static_cast<std::ptrdiff_t>(sh - 1) * sstride;
        ss[0] = -sstride;
    }
    uint8_t* dp[4] = {dst.data(), nullptr, nullptr, nullptr};
    int ds[4] = {dstride, 0, 0, 0};
    sws_scale(c, sp, ss, 0, sh, dp, ds);
    sws_freeContext(c);
    return dst;
}

// The scaler notes on standard error that some formats lack full chroma interpolation.
const int kQuietScaler = (av_log_set_level(AV_LOG_ERROR), 0);

const RGBScale::RgbType kLayouts[] = {RGBScale::RGB24,  RGBScale::BGR24,  RGBScale::BGRA32,
                                      RGBScale::RGBA32, RGBScale::RGB565, RGBScale::RGB555,
                                      RGBScale::RGB32};

TEST(RGBScale, EveryLayoutPairAtEqualSizeGivesTheScalersOwnBytes) {
    const int w = 37, h = 19;  // odd sizes, padded rows
    for (RGBScale::RgbType from : kLayouts) {
        for (RGBScale::RgbType to : kLayouts) {
            for (bool flip : {false, true}) {
                const int ss = w * bytesPerPixel(from) + 5;
                const int ds = w * bytesPerPixel(to) + 3;
                const Bytes src = randomBytes(static_cast<std::size_t>(ss) * h, 7 + from * 8 + to);
                RGBScale scale;
                scale.initRGBToRGB(w, h, w, h, ss, ds, from, to);
                EXPECT_EQ(16, RGBScaleTestAccess::flags(scale));  // point sampling
                Bytes dst(static_cast<std::size_t>(ds) * h, kFill);
                scale.convertRGBToRGB(const_cast<unsigned char*>(src.data()), dst.data(), flip);
                EXPECT_EQ(direct(w, h, avFormat(from), ss, w, h, avFormat(to), ds, SWS_POINT,
                                 src, flip),
                          dst)
                    << "from " << from << " to " << to << " flip " << flip;
            }
        }
    }
}

TEST(RGBScale, FlipPutsTheLastSourceRowFirst) {
    const int w = 8, h = 6, stride = w * 3;
    const Bytes src = randomBytes(static_cast<std::size_t>(stride) * h, 1);
    RGBScale scale;
    scale.initRGBToRGB(w, h, w, h, stride, stride, RGBScale::RGB24, RGBScale::RGB24);
    Bytes dst(src.size(), kFill);
    scale.convertRGBToRGB(const_cast<unsigned char*>(src.data()), dst.data(), true);
    for (int row = 0; row < h; ++row)
        EXPECT_TRUE(std::equal(src.begin() + (h - 1 - row) * stride,
                               src.begin() + (h - row) * stride, dst.begin() + row * stride))
            << row;
    scale.convertRGBToRGB(const_cast<unsigned char*>(src.data()), dst.data(), false);
    EXPECT_EQ(src, dst);
}

TEST(RGBScale, ScalesBicubicallyWhenTheSizesDiffer) {
    const int sw = 64, sh = 48, dw = 40, dh = 30;
    const Bytes src = randomBytes(static_cast<std::size_t>(sw) * 4 * sh, 2);
    for (const auto& size : {std::make_pair(dw, dh), std::make_pair(sw, dh), std::make_pair(dw, sh)}) {
        RGBScale scale;
        scale.initRGBToRGB(sw, sh, size.first, size.second, sw * 4, size.first * 3,
                           RGBScale::BGRA32, RGBScale::RGB24);
        EXPECT_EQ(4, RGBScaleTestAccess::flags(scale));
        Bytes dst(static_cast<std::size_t>(size.first) * 3 * size.second, kFill);
        scale.convertRGBToRGB(const_cast<unsigned char*>(src.data()), dst.data(), false);
        EXPECT_EQ(direct(sw, sh, AV_PIX_FMT_BGRA, sw * 4, size.first, size.second,
                         AV_PIX_FMT_RGB24, size.first * 3, SWS_BICUBIC, src, false),
                  dst);
    }
}

TEST(RGBScale, ConvertsYuyvBicubicallyAtAnySize) {
    const int sw = 32, sh = 16;
    const Bytes src = randomBytes(static_cast<std::size_t>(sw) * 2 * sh, 3);
    for (const auto& size : {std::make_pair(sw, sh), std::make_pair(20, 10)}) {
        const int ds = size.first * 4 + 8;
        RGBScale scale;
        scale.initYUV2ToRGB(sw, sh, size.first, size.second, ds, RGBScale::BGRA32);
        EXPECT_EQ(4, RGBScaleTestAccess::flags(scale));
        Bytes dst(static_cast<std::size_t>(ds) * size.second, kFill);
        scale.convertYUV2ToRGB(const_cast<unsigned char*>(src.data()), dst.data());
        EXPECT_EQ(direct(sw, sh, AV_PIX_FMT_YUYV422, sw * 2, size.first, size.second,
                         AV_PIX_FMT_BGRA, ds, SWS_BICUBIC, src, false),
                  dst);
        // An RGB conversion never runs on the YUYV context.
        Bytes untouched(dst.size(), kFill);
        scale.convertRGBToRGB(const_cast<unsigned char*>(src.data()), untouched.data(), false);
        EXPECT_EQ(Bytes(dst.size(), kFill), untouched);
    }
}

TEST(RGBScale, KeepsItsContextUntilTheGeometryOrTheLayoutsChange) {
    RGBScale scale;
    RGBScaleTestAccess::countBuilds(scale);
    int& builds = RGBScaleTestAccess::builds;
    scale.initRGBToRGB(16, 8, 16, 8, 64, 48, RGBScale::BGRA32, RGBScale::RGB24);
    EXPECT_EQ(1, builds);
    for (int frame = 0; frame < 10; ++frame)
        scale.initRGBToRGB(16, 8, 16, 8, 64, 48, RGBScale::BGRA32, RGBScale::RGB24);
    EXPECT_EQ(1, builds);
    scale.initRGBToRGB(16, 8, 16, 8, 68, 48, RGBScale::BGRA32, RGBScale::RGB24);  // source stride
    EXPECT_EQ(2, builds);
    scale.initRGBToRGB(16, 8, 16, 8, 68, 52, RGBScale::BGRA32, RGBScale::RGB24);  // dest stride
    EXPECT_EQ(3, builds);
    scale.initRGBToRGB(16, 8, 16, 8, 68, 52, RGBScale::RGB32, RGBScale::RGB24);   // same format
    EXPECT_EQ(3, builds);
    scale.initRGBToRGB(16, 8, 16, 8, 68, 52, RGBScale::BGRA32, RGBScale::BGR24);  // layout only
    EXPECT_EQ(4, builds);
    scale.initYUV2ToRGB(16, 8, 16, 8, 52, RGBScale::BGR24);  // same geometry, other source
    EXPECT_EQ(5, builds);
    scale.initYUV2ToRGB(16, 8, 16, 8, 52, RGBScale::BGR24);
    EXPECT_EQ(5, builds);
    scale.free();
    EXPECT_EQ(nullptr, RGBScaleTestAccess::context(scale));
    scale.initYUV2ToRGB(16, 8, 16, 8, 52, RGBScale::BGR24);  // no context: a new one
    EXPECT_EQ(6, builds);

    // The layout-only change converts with the new layouts, not a stale context.
    const Bytes src = randomBytes(68 * 8, 4);
    scale.initRGBToRGB(16, 8, 16, 8, 68, 52, RGBScale::BGRA32, RGBScale::RGB24);
    scale.initRGBToRGB(16, 8, 16, 8, 68, 52, RGBScale::RGBA32, RGBScale::BGR24);
    Bytes dst(52 * 8, kFill);
    scale.convertRGBToRGB(const_cast<unsigned char*>(src.data()), dst.data(), false);
    EXPECT_EQ(direct(16, 8, AV_PIX_FMT_RGBA, 68, 16, 8, AV_PIX_FMT_BGR24, 52, SWS_POINT, src, false),
              dst);
}

TEST(RGBScale, CopiesConvertAloneWithContextsOfTheirOwn) {
    const int w = 12, h = 10;
    const Bytes src = randomBytes(static_cast<std::size_t>(w) * 4 * h, 5);
    const Bytes expected = direct(w, h, AV_PIX_FMT_BGRA, w * 4, w, h, AV_PIX_FMT_RGB24, w * 3,
                                  SWS_POINT, src, false);
    RGBScale* original = new RGBScale;
    original->initRGBToRGB(w, h, w, h, w * 4, w * 3, RGBScale::BGRA32, RGBScale::RGB24);
    RGBScale copy(*original);
    RGBScale assigned;
    assigned.initYUV2ToRGB(8, 8, 8, 8, 32, RGBScale::BGRA32);
    assigned = *original;
    EXPECT_NE(nullptr, RGBScaleTestAccess::context(copy));
    EXPECT_NE(RGBScaleTestAccess::context(*original), RGBScaleTestAccess::context(copy));
    EXPECT_NE(RGBScaleTestAccess::context(copy), RGBScaleTestAccess::context(assigned));
    delete original;  // releases only its own context and library reference
    for (RGBScale* s : {&copy, &assigned}) {
        Bytes dst(static_cast<std::size_t>(w) * 3 * h, kFill);
        s->convertRGBToRGB(const_cast<unsigned char*>(src.data()), dst.data(), false);
        EXPECT_EQ(expected, dst);
    }
    assigned = assigned;
    EXPECT_NE(nullptr, RGBScaleTestAccess::context(assigned));
}

#endif  // NXTEST_HAVE_SWSCALE

TEST(RGBScale, LeavesSourcesBelowFourByFourUntouched) {
    if (!haveScaler())
        GTEST_SKIP() << "no scaler installed";
    const Bytes src = randomBytes(64 * 64 * 4, 6);
    for (const auto& size : {std::make_pair(3, 10), std::make_pair(10, 3), std::make_pair(4, 4)}) {
        RGBScale scale;
        scale.initRGBToRGB(size.first, size.second, size.first, size.second, size.first * 4,
                           size.first * 4, RGBScale::BGRA32, RGBScale::BGRA32);
        scale.initYUV2ToRGB(size.first, size.second, size.first, size.second, size.first * 4,
                            RGBScale::BGRA32);
        Bytes dst(static_cast<std::size_t>(size.first) * 4 * size.second, kFill);
        scale.convertYUV2ToRGB(const_cast<unsigned char*>(src.data()), dst.data());
        const bool converted = dst != Bytes(dst.size(), kFill);
        EXPECT_EQ(size.first >= 4 && size.second >= 4, converted) << size.first << "x" << size.second;
    }
}

TEST(RGBScale, UnknownLayoutsGetNoContext) {
    RGBScale scale;
    scale.initRGBToRGB(8, 8, 8, 8, 32, 32, static_cast<RGBScale::RgbType>(7), RGBScale::BGRA32);
    EXPECT_EQ(nullptr, RGBScaleTestAccess::context(scale));
    scale.initRGBToRGB(8, 8, 8, 8, 32, 32, RGBScale::BGRA32, static_cast<RGBScale::RgbType>(-1));
    EXPECT_EQ(nullptr, RGBScaleTestAccess::context(scale));
    Bytes src(32 * 8, 1), dst(32 * 8, kFill);
    scale.convertRGBToRGB(src.data(), dst.data(), false);
    EXPECT_EQ(Bytes(dst.size(), kFill), dst);
}

TEST(RGBScale, WithoutAScalerWorksAndConvertsNothing) {
    nxtest::TempDir empty("video-noscaler");
    nxvideo::setScalerSearch(empty.path().u16string(), false);
    const std::u16string tried = nxvideo::scalerCandidates();
    {
        RGBScale scale;
        EXPECT_FALSE(RGBScaleTestAccess::loaded(scale));
        scale.init();
        scale.initRGBToRGB(16, 16, 8, 8, 64, 32, RGBScale::BGRA32, RGBScale::RGB24);
        scale.initYUV2ToRGB(16, 16, 8, 8, 32, RGBScale::BGRA32);
        EXPECT_EQ(nullptr, RGBScaleTestAccess::context(scale));
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

#ifdef NXTEST_HAVE_SWSCALE
TEST(RGBScale, PrefersTheScalerInItsOwnFolder) {
    // A copy of the system's scaler in a folder of its own is the one that is loaded.
    const std::filesystem::path system(platform::modulePath(reinterpret_cast<const void*>(&sws_scale)));
    ASSERT_TRUE(std::filesystem::exists(system));
    nxtest::TempDir folder("video-ownscaler");
    std::filesystem::copy_file(system, folder.path() / system.filename());
    nxvideo::setScalerSearch(folder.path().u16string(), false);
    {
        RGBScale scale;
        ASSERT_TRUE(RGBScaleTestAccess::loaded(scale));
        const std::filesystem::path used(platform::modulePath(
            reinterpret_cast<const void*>(RGBScaleTestAccess::getContext(scale))));
        EXPECT_TRUE(std::filesystem::equivalent(folder.path() / system.filename(), used));
        scale.initRGBToRGB(8, 8, 8, 8, 32, 24, RGBScale::BGRA32, RGBScale::RGB24);
        EXPECT_NE(nullptr, RGBScaleTestAccess::context(scale));
    }
    nxvideo::setScalerSearch(u"", true);
}
#endif

}  // namespace
