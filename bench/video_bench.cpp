// Frame conversion through RGBScale against the same scaler called directly.
//
// Each RGBScale iteration is what a capture pipeline does per frame: the set-up call with the
// frame's geometry (a comparison once the context exists) and one conversion. The direct
// variant keeps one context made beforehand and calls sws_scale. Both run the same scaler
// library, so the difference is RGBScale's own cost: the set-up comparison and the calls
// through pointers into the run-time-loaded library.
#include "video/video.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

extern "C" {
#include <libavutil/log.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

namespace {

struct Case {
    int sw, sh, dw, dh;
    bool yuyv;
    RGBScale::RgbType src, dst;
    AVPixelFormat avSrc, avDst;
    int srcBytes, dstBytes;
};

const Case kBgraToRgb24 = {1920, 1080, 1920, 1080, false, RGBScale::BGRA32, RGBScale::RGB24,
                           AV_PIX_FMT_BGRA, AV_PIX_FMT_RGB24, 4, 3};
const Case kBgra1080To720 = {1920, 1080, 1280, 720, false, RGBScale::BGRA32, RGBScale::BGRA32,
                             AV_PIX_FMT_BGRA, AV_PIX_FMT_BGRA, 4, 4};
const Case kYuyvToBgra = {1920, 1080, 1920, 1080, true, RGBScale::BGRA32, RGBScale::BGRA32,
                          AV_PIX_FMT_YUYV422, AV_PIX_FMT_BGRA, 2, 4};

struct Frames {
    std::vector<unsigned char> src, dst;
    explicit Frames(const Case& c)
        : src(static_cast<std::size_t>(c.sw) * c.sh * c.srcBytes),
          dst(static_cast<std::size_t>(c.dw) * c.dh * c.dstBytes) {
        std::uint32_t x = 12345;
        for (auto& b : src) {
            x = x * 1664525u + 1013904223u;
            b = static_cast<unsigned char>(x >> 24);
        }
    }
};

void viaRGBScale(benchmark::State& state, const Case& c) {
    av_log_set_level(AV_LOG_ERROR);
    Frames f(c);
    RGBScale scale;
    for (auto _ : state) {
        if (c.yuyv) {
            scale.initYUV2ToRGB(c.sw, c.sh, c.dw, c.dh, c.dw * c.dstBytes, c.dst);
            scale.convertYUV2ToRGB(f.src.data(), f.dst.data());
        } else {
            scale.initRGBToRGB(c.sw, c.sh, c.dw, c.dh, c.sw * c.srcBytes, c.dw * c.dstBytes, c.src,
                               c.dst);
            scale.convertRGBToRGB(f.src.data(), f.dst.data(), false);
        }
        benchmark::DoNotOptimize(f.dst.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}

void direct(benchmark::State& state, const Case& c) {
    av_log_set_level(AV_LOG_ERROR);
    Frames f(c);
    const int flags = !c.yuyv && c.sw == c.dw && c.sh == c.dh ? SWS_POINT : SWS_BICUBIC;
    SwsContext* ctx =
        sws_getContext(c.sw, c.sh, c.avSrc, c.dw, c.dh, c.avDst, flags, nullptr, nullptr, nullptr);
    const uint8_t* sp[4] = {f.src.data(), nullptr, nullptr, nullptr};
    const int ss[4] = {c.sw * c.srcBytes, 0, 0, 0};
    uint8_t* dp[4] = {f.dst.data(), nullptr, nullptr, nullptr};
    const int ds[4] = {c.dw * c.dstBytes, 0, 0, 0};
    for (auto _ : state) {
        sws_scale(ctx, sp, ss, 0, c.sh, dp, ds);
        benchmark::DoNotOptimize(f.dst.data());
        benchmark::ClobberMemory();
    }
    sws_freeContext(ctx);
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK_CAPTURE(viaRGBScale, bgra_to_rgb24_1080p, kBgraToRgb24)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(direct, bgra_to_rgb24_1080p, kBgraToRgb24)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(viaRGBScale, bgra_1080p_to_720p, kBgra1080To720)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(direct, bgra_1080p_to_720p, kBgra1080To720)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(viaRGBScale, yuyv_to_bgra_1080p, kYuyvToBgra)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(direct, yuyv_to_bgra_1080p, kYuyvToBgra)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
