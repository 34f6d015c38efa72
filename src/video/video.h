// Video: conversion and scaling of one frame at a time between packed RGB layouts, and from
// packed YUV 4:2:2 (YUYV) to an RGB layout, through the FFmpeg scaling library (libswscale).
//
// The scaler is loaded at run time, never linked: from this library's own folder first
// ("swscale-2.dll" on Windows, a libswscale.so.N on Linux), then the system's installed one.
// Without a scaler an RGBScale still works and converts nothing. Layout numbers are mapped to
// the loaded scaler's own pixel-format numbers by name, so any scaler generation serves.
//
//     RGBScale scale;
//     scale.initRGBToRGB(1920, 1080, 1280, 720, 1920 * 4, 1280 * 3,
//                        RGBScale::BGRA32, RGBScale::RGB24);   // every frame: cheap when unchanged
//     scale.convertRGBToRGB(bgraFrame, rgbFrame, false);
#ifndef NXUTIL_VIDEO_H
#define NXUTIL_VIDEO_H

#include "nxutil_export.h"
#include "nxutil_types.h"

struct SwsContext;
struct RGBScaleTestAccess;

/// One frame converter holding one scaler context, rebuilt only when the geometry or the
/// layouts change. An object is used by one thread at a time; separate objects are independent.
///
/// Copies are deep: a copy holds its own reference to the scaler library and its own context
/// for the same geometry and layouts, so both objects convert alike and release only their own.
class NXUTIL_API RGBScale {
public:
    /// A packed pixel layout, named by the order of its bytes in memory.
    enum RgbType : int {
        RGB24 = 0,   ///< R, G, B
        BGR24 = 1,   ///< B, G, R
        BGRA32 = 2,  ///< B, G, R, A
        RGBA32 = 3,  ///< R, G, B, A
        RGB565 = 4,  ///< 16-bit little-endian words, red in the top 5 bits
        RGB555 = 5,  ///< 16-bit big-endian words, 0RRRRRGG GGGBBBBB
        RGB32 = 6,   ///< the same as BGRA32
        // any other value: no layout; no context is created for it
    };

    /// Zero, then init().
    RGBScale();
    RGBScale(const RGBScale& other);
    RGBScale& operator=(const RGBScale& other);
    /// uninit().
    ~RGBScale();

    /// Loads the scaler library and its three entry points unless already loaded. A failed load
    /// leaves the object unloaded; a later init() tries again.
    void init();
    /// free(), unloads the library, and zeroes every field.
    void uninit();
    /// Releases the context, if any; the library stays loaded.
    void free();

    /// Prepares an RGB-to-RGB conversion. Strides are in bytes. Sizes equal in both directions
    /// use point sampling, any difference bicubic scaling. With the same sizes, strides and
    /// layouts as the current context this only compares; any change builds a new context.
    void initRGBToRGB(int srcWidth, int srcHeight, int dstWidth, int dstHeight, int srcStride,
                      int dstStride, RgbType srcType, RgbType dstType);

    /// Prepares a YUYV-to-RGB conversion (source rows of 2 bytes a pixel, no gaps), always
    /// bicubic. The source stride set by initRGBToRGB is kept.
    void initYUV2ToRGB(int srcWidth, int srcHeight, int dstWidth, int dstHeight, int dstStride,
                       RgbType dstType);

    /// Converts one frame with the RGB context; with `flip` the last source row becomes the
    /// first destination row. Does nothing without an RGB context or for a source narrower or
    /// lower than 4 pixels. `dst` must hold destination height rows of the destination stride.
    void convertRGBToRGB(unsigned char* src, unsigned char* dst, bool flip);

    /// Converts one frame with the YUYV context; nothing without one or below 4 x 4 pixels.
    void convertYUV2ToRGB(unsigned char* src, unsigned char* dst);

    typedef void (*FreeContextFn)(SwsContext* context);
    typedef SwsContext* (*GetContextFn)(int srcW, int srcH, int srcFormat, int dstW, int dstH,
                                        int dstFormat, int flags, void* srcFilter,
                                        void* dstFilter, const double* param);
    typedef int (*ScaleFn)(SwsContext* context, const unsigned char* const srcSlice[],
                           const int srcStride[], int srcSliceY, int srcSliceH,
                           unsigned char* const dst[], const int dstStride[]);

private:
    friend struct RGBScaleTestAccess;

    /// The loaded scaler's format number for a layout; -1 for none.
    int formatOf(RgbType type) const;
    /// A new context for the stored sizes and the given formats, or null.
    void buildContext(int mode, int srcFormat, int dstFormat, int flags);
    void copyFrom(const RGBScale& other);

    FreeContextFn m_freeContext = nullptr;
    GetContextFn m_getContext = nullptr;
    ScaleFn m_scale = nullptr;
    HMODULE m_hDll = nullptr;
    SwsContext* m_context = nullptr;
    int m_srcWidth = 0;
    int m_srcHeight = 0;
    int m_dstWidth = 0;
    int m_dstHeight = 0;
    int m_srcStride = 0;
    int m_dstStride = 0;

    // What the current context was built for: 0 none, 1 RGB to RGB, 2 YUYV to RGB; its
    // formats and flags. A layout change then rebuilds the context as a size change does.
    int m_contextMode = 0;
    int m_contextSrcFormat = -1;
    int m_contextDstFormat = -1;
    int m_contextFlags = 0;
    // The loaded scaler's numbers for RgbType 0..6 and, last, YUYV 4:2:2; -1 when unknown.
    int m_formats[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
};

#endif
