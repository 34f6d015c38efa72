// RGBScale: frame conversion through the run-time-loaded FFmpeg scaler.
//
// Sections: locating and loading the scaler; mapping layouts to the loaded scaler's pixel
// formats; the object's life cycle; set-ups; conversions.
#include "video/video.h"
#include "video/video_internal.h"
#include "platform/dl.h"
#include "platform/file.h"
#include "pubfunc/pubfunc.h"

#include <cstddef>
#include <mutex>
#include <vector>

namespace {

// ---- locating and loading the scaler --------------------------------------------------------

// Scaler flags (stable across scaler generations).
constexpr int kSwsBicubic = 4;
constexpr int kSwsPoint = 16;

// The first generation tried is the one this library was made with; then newest first.
constexpr int kScalerMajors[] = {2, 9, 8, 7, 6, 5, 4, 3};
// libavutil generations that go with the scalers above (for the format-name lookup on systems
// where the scaler's own exports do not reach its dependencies).
constexpr int kUtilMajorFirst = 49;
constexpr int kUtilMajorLast = 60;

constexpr int kModeNone = 0;
constexpr int kModeRgb = 1;
constexpr int kModeYuv = 2;
constexpr int kYuyvSlot = 7;

struct Search {
    std::mutex lock;
    std::u16string folder;  // empty: this library's own folder
    bool system = true;
};

Search& search() {
    static Search* s = new Search;  // read by objects destroyed during static destruction
    return *s;
}

struct Candidate {
    std::u16string path;
    unsigned int flags;
};

std::vector<Candidate> candidates() {
    std::u16string folder;
    bool system;
    {
        Search& s = search();
        std::lock_guard<std::mutex> guard(s.lock);
        folder = s.folder;
        system = s.system;
    }
    if (folder.empty())
        folder = pubfunc::getExePath(pubfunc::moduleSelf);
    std::vector<Candidate> list;
    // In a folder, with the altered search path so that the scaler's own dependencies are
    // looked up beside it first.
    if (!folder.empty())
        for (int major : kScalerMajors)
            list.push_back({folder + platform::kPathSeparator +
                                platform::dlVersionedFileName(u"swscale", major),
                            platform::kLoadWithAlteredSearchPath});
    if (system)
        for (int major : kScalerMajors)
            list.push_back({platform::dlVersionedFileName(u"swscale", major), 0});
    return list;
}

platform::Module* loadScaler() {
    for (const Candidate& c : candidates())
        if (platform::Module* m = platform::dlLoadEx(c.path, c.flags))
            return m;
    return nullptr;
}

// ---- layouts to the loaded scaler's pixel formats -----------------------------------------

// Names of the scaler's pixel-format list for RgbType 0..6 and YUYV, in slot order.
const char* const kFormatNames[8] = {"rgb24", "bgr24", "bgra", "rgba",
                                     "rgb565le", "rgb555be", "bgra", "yuyv422"};
// The same formats' numbers in the generation of scaler major version 2, for a scaler whose
// format-name lookup cannot be reached.
const int kMajor2Formats[8] = {2, 3, 30, 28, 44, 45, 30, 1};

typedef int (*GetPixFmtFn)(const char* name);
typedef unsigned (*VersionFn)();

void mapFormats(platform::Module* scaler, int* formats) {
    for (int i = 0; i < 8; ++i)
        formats[i] = -1;
    // On ELF the scaler's handle reaches its dependencies; on Windows find the utility library
    // that the scaler has loaded.
    GetPixFmtFn getPixFmt =
        reinterpret_cast<GetPixFmtFn>(platform::dlSymbol(scaler, "av_get_pix_fmt"));
    platform::Module* util = nullptr;
    for (int major = kUtilMajorLast; !getPixFmt && major >= kUtilMajorFirst; --major) {
        util = platform::dlFind(platform::dlVersionedFileName(u"avutil", major));
        if (util) {
            getPixFmt = reinterpret_cast<GetPixFmtFn>(platform::dlSymbol(util, "av_get_pix_fmt"));
            if (!getPixFmt) {
                platform::dlFree(util);
                util = nullptr;
            }
        }
    }
    if (getPixFmt) {
        for (int i = 0; i < 8; ++i)
            formats[i] = getPixFmt(kFormatNames[i]);
    } else {
        VersionFn version = reinterpret_cast<VersionFn>(platform::dlSymbol(scaler, "swscale_version"));
        if (version && (version() >> 16) == 2)
            for (int i = 0; i < 8; ++i)
                formats[i] = kMajor2Formats[i];
    }
    if (util)
        platform::dlFree(util);
}

platform::Module* toModule(HMODULE h) { return reinterpret_cast<platform::Module*>(h); }
HMODULE toHandle(platform::Module* m) { return reinterpret_cast<HMODULE>(m); }

}  // namespace

namespace nxvideo {

void setScalerSearch(const std::u16string& folder, bool systemSearch) {
    Search& s = search();
    std::lock_guard<std::mutex> guard(s.lock);
    s.folder = folder;
    s.system = systemSearch;
}

std::u16string scalerCandidates() {
    std::u16string all;
    for (const Candidate& c : candidates())
        all += c.path + u"\n";
    return all;
}

}  // namespace nxvideo

// ---- life cycle -----------------------------------------------------------------------------

RGBScale::RGBScale() { init(); }

RGBScale::RGBScale(const RGBScale& other) { copyFrom(other); }

RGBScale& RGBScale::operator=(const RGBScale& other) {
    if (this != &other) {
        uninit();
        copyFrom(other);
    }
    return *this;
}

RGBScale::~RGBScale() { uninit(); }

// Takes every field of `other` (this object holds nothing), then a library reference and a
// context of its own.
void RGBScale::copyFrom(const RGBScale& other) {
    m_srcWidth = other.m_srcWidth;
    m_srcHeight = other.m_srcHeight;
    m_dstWidth = other.m_dstWidth;
    m_dstHeight = other.m_dstHeight;
    m_srcStride = other.m_srcStride;
    m_dstStride = other.m_dstStride;
    for (int i = 0; i < 8; ++i)
        m_formats[i] = other.m_formats[i];
    m_hDll = toHandle(platform::dlAddRef(toModule(other.m_hDll)));
    if (!m_hDll)
        return;
    m_freeContext = other.m_freeContext;
    m_getContext = other.m_getContext;
    m_scale = other.m_scale;
    if (other.m_context)
        buildContext(other.m_contextMode, other.m_contextSrcFormat, other.m_contextDstFormat,
                     other.m_contextFlags);
}

void RGBScale::init() {
    if (m_hDll)
        return;
    platform::Module* scaler = loadScaler();
    if (!scaler)
        return;
    m_hDll = toHandle(scaler);
    m_freeContext = reinterpret_cast<FreeContextFn>(platform::dlSymbol(scaler, "sws_freeContext"));
    m_getContext = reinterpret_cast<GetContextFn>(platform::dlSymbol(scaler, "sws_getContext"));
    m_scale = reinterpret_cast<ScaleFn>(platform::dlSymbol(scaler, "sws_scale"));
    mapFormats(scaler, m_formats);
}

void RGBScale::free() {
    if (m_context) {
        if (m_freeContext)
            m_freeContext(m_context);
        m_context = nullptr;
    }
    m_contextMode = kModeNone;
    m_contextSrcFormat = -1;
    m_contextDstFormat = -1;
    m_contextFlags = 0;
}

void RGBScale::uninit() {
    free();
    if (m_hDll)
        platform::dlFree(toModule(m_hDll));
    m_freeContext = nullptr;
    m_getContext = nullptr;
    m_scale = nullptr;
    m_hDll = nullptr;
    m_srcWidth = m_srcHeight = m_dstWidth = m_dstHeight = 0;
    m_srcStride = m_dstStride = 0;
    for (int& f : m_formats)
        f = -1;
}

// ---- set-ups --------------------------------------------------------------------------------

int RGBScale::formatOf(RgbType type) const {
    const int t = static_cast<int>(type);
    return t >= 0 && t <= 6 ? m_formats[t] : -1;
}

void RGBScale::buildContext(int mode, int srcFormat, int dstFormat, int flags) {
    free();
    // A context is only made when it can also be used and released.
    if (!m_getContext || !m_scale || !m_freeContext || srcFormat < 0 || dstFormat < 0)
        return;
    m_context = m_getContext(m_srcWidth, m_srcHeight, srcFormat, m_dstWidth, m_dstHeight,
                             dstFormat, flags, nullptr, nullptr, nullptr);
    if (!m_context)
        return;
    m_contextMode = mode;
    m_contextSrcFormat = srcFormat;
    m_contextDstFormat = dstFormat;
    m_contextFlags = flags;
}

void RGBScale::initRGBToRGB(int srcWidth, int srcHeight, int dstWidth, int dstHeight,
                            int srcStride, int dstStride, RgbType srcType, RgbType dstType) {
    const bool changed = srcWidth != m_srcWidth || srcHeight != m_srcHeight ||
                         dstWidth != m_dstWidth || dstHeight != m_dstHeight ||
                         srcStride != m_srcStride || dstStride != m_dstStride;
    m_srcWidth = srcWidth;
    m_srcHeight = srcHeight;
    m_dstWidth = dstWidth;
    m_dstHeight = dstHeight;
    m_srcStride = srcStride;
    m_dstStride = dstStride;
    const int srcFormat = formatOf(srcType);
    const int dstFormat = formatOf(dstType);
    if (!changed && m_context && m_contextMode == kModeRgb && m_contextSrcFormat == srcFormat &&
        m_contextDstFormat == dstFormat)
        return;
    const int flags = srcWidth == dstWidth && srcHeight == dstHeight ? kSwsPoint : kSwsBicubic;
    buildContext(kModeRgb, srcFormat, dstFormat, flags);
}

void RGBScale::initYUV2ToRGB(int srcWidth, int srcHeight, int dstWidth, int dstHeight,
                             int dstStride, RgbType dstType) {
    const bool changed = srcWidth != m_srcWidth || srcHeight != m_srcHeight ||
                         dstWidth != m_dstWidth || dstHeight != m_dstHeight ||
                         dstStride != m_dstStride;
    m_srcWidth = srcWidth;
    m_srcHeight = srcHeight;
    m_dstWidth = dstWidth;
    m_dstHeight = dstHeight;
    m_dstStride = dstStride;
    const int srcFormat = m_formats[kYuyvSlot];
    const int dstFormat = formatOf(dstType);
    if (!changed && m_context && m_contextMode == kModeYuv && m_contextDstFormat == dstFormat)
        return;
    buildContext(kModeYuv, srcFormat, dstFormat, kSwsBicubic);
}

// ---- conversions ----------------------------------------------------------------------------

void RGBScale::convertRGBToRGB(unsigned char* src, unsigned char* dst, bool flip) {
    if (m_srcWidth < 4 || m_srcHeight < 4 || !m_context || m_contextMode != kModeRgb)
        return;
    const unsigned char* srcPlanes[4] = {src, nullptr, nullptr, nullptr};
    int srcStrides[4] = {m_srcStride, 0, 0, 0};
    if (flip) {
        // Read the rows bottom-up: start at the last row and step back one stride per row.
        srcPlanes[0] = src + static_cast<std::ptrdiff_t>(m_srcHeight - 1) * m_srcStride;
        srcStrides[0] = -m_srcStride;
    }
    unsigned char* const dstPlanes[4] = {dst, nullptr, nullptr, nullptr};
    const int dstStrides[4] = {m_dstStride, 0, 0, 0};
    m_scale(m_context, srcPlanes, srcStrides, 0, m_srcHeight, dstPlanes, dstStrides);
}

void RGBScale::convertYUV2ToRGB(unsigned char* src, unsigned char* dst) {
    if (m_srcWidth < 4 || m_srcHeight < 4 || !m_context || m_contextMode != kModeYuv)
        return;
    const unsigned char* const srcPlanes[4] = {src, nullptr, nullptr, nullptr};
    const int srcStrides[4] = {m_srcWidth * 2, 0, 0, 0};
    unsigned char* const dstPlanes[4] = {dst, nullptr, nullptr, nullptr};
    const int dstStrides[4] = {m_dstStride, 0, 0, 0};
    m_scale(m_context, srcPlanes, srcStrides, 0, m_srcHeight, dstPlanes, dstStrides);
}
