// nxtool convert: converts and scales a bitmap, or a raw YUYV frame, through RGBScale and writes
// a bitmap; the demo's video screen.
#include "command.h"
#include "pubfunc/pubfunc.h"
#include "video/video.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;
constexpr unsigned char kUntouched = 0xCD;
// The largest side of a picture read or written: keeps strides and buffer sizes far from
// overflowing and the buffers within reach of the memory.
constexpr int kMaxSide = 16384;

struct Layout {
    const char* name;
    RGBScale::RgbType type;
    int bytes;
};
const Layout kLayouts[] = {{"rgb24", RGBScale::RGB24, 3},   {"bgr24", RGBScale::BGR24, 3},
                           {"bgra", RGBScale::BGRA32, 4},   {"rgba", RGBScale::RGBA32, 4},
                           {"rgb565", RGBScale::RGB565, 2}, {"rgb555", RGBScale::RGB555, 2}};

const Layout* findLayout(const std::string& name) {
    for (const Layout& l : kLayouts)
        if (name == l.name)
            return &l;
    return nullptr;
}

int paddedStride(int width, int bytes) { return (width * bytes + 3) & ~3; }

unsigned readLe(const std::vector<char>& b, std::size_t at, int n) {
    unsigned v = 0;
    for (int i = n - 1; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(b[at + static_cast<std::size_t>(i)]);
    return v;
}

void putLe(unsigned char* p, unsigned v, int n) {
    for (int i = 0; i < n; ++i)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}

// A side length from the command line: digits only, 1 .. kMaxSide.
bool parseSide(const std::string& s, int& side) {
    char* end = nullptr;
    const long v = std::strtol(s.c_str(), &end, 10);
    if (s.empty() || *end != 0 || v < 1 || v > kMaxSide)
        return false;
    side = static_cast<int>(v);
    return true;
}

// An uncompressed 24- or 32-bit bitmap: its pixels as stored, rows padded to 4 bytes.
struct Bitmap {
    int width = 0, height = 0, bytes = 0, stride = 0;
    bool topDown = false;
    const unsigned char* pixels = nullptr;
};

bool parseBitmap(const std::vector<char>& file, Bitmap& bmp, std::string& why) {
    if (file.size() < 54 || file[0] != 'B' || file[1] != 'M') {
        why = "not a bitmap";
        return false;
    }
    const unsigned offset = readLe(file, 10, 4);
    const unsigned w = readLe(file, 18, 4);
    const unsigned h = readLe(file, 22, 4);  // two's complement: negative stores top row first
    bmp.topDown = (h & 0x80000000u) != 0;
    const unsigned rows = bmp.topDown ? 0u - h : h;
    const unsigned bits = readLe(file, 28, 2);
    const unsigned compression = readLe(file, 30, 4);
    if ((bits != 24 && bits != 32) || (compression != 0 && compression != 3)) {
        why = "only uncompressed 24- and 32-bit bitmaps are read";
        return false;
    }
    if (w < 1 || w > kMaxSide || rows < 1 || rows > kMaxSide) {
        why = "width and height must be 1 .. " + std::to_string(kMaxSide);
        return false;
    }
    bmp.width = static_cast<int>(w);
    bmp.height = static_cast<int>(rows);
    bmp.bytes = static_cast<int>(bits / 8);
    bmp.stride = paddedStride(bmp.width, bmp.bytes);
    if (offset + static_cast<unsigned long long>(bmp.stride) * bmp.height > file.size()) {
        why = "the pixel data is cut short";
        return false;
    }
    bmp.pixels = reinterpret_cast<const unsigned char*>(file.data()) + offset;
    return true;
}

bool parseSize(const std::string& s, int& w, int& h) {
    const std::size_t x = s.find('x');
    return x != std::string::npos && parseSide(s.substr(0, x), w) && parseSide(s.substr(x + 1), h);
}

// A top-down bitmap of exactly these pixels: the 54 bytes of headers saveAsBMP writes, then
// the pixels. Built here rather than through saveAsBMP, which keeps the tail of a longer old
// file; the whole bitmap replaces the file at once, so a failed write keeps the old one.
bool writeBitmap(const std::string& path, const Bytes& pixels, int width, int height, int bytes) {
    Bytes file(54 + pixels.size(), 0);
    file[0] = 'B';
    file[1] = 'M';
    putLe(&file[2], static_cast<unsigned>(file.size()), 4);
    putLe(&file[10], 54, 4);
    putLe(&file[14], 40, 4);
    putLe(&file[18], static_cast<unsigned>(width), 4);
    putLe(&file[22], 0u - static_cast<unsigned>(height), 4);
    putLe(&file[26], 1, 2);
    putLe(&file[28], static_cast<unsigned>(bytes * 8), 2);
    std::memcpy(&file[54], pixels.data(), pixels.size());
    return pubfunc::saveBinaryFile(nxtool::utf16(path), file.data(), file.size());
}

bool untouched(const Bytes& b) {
    for (unsigned char c : b)
        if (c != kUntouched)
            return false;
    return true;
}

int runConvert(const std::vector<std::string>& args) {
    std::vector<std::string> files;
    int dstW = 0, dstH = 0, yuvW = 0, yuvH = 0;
    bool flip = false, yuyv = false;
    const Layout* to = findLayout("bgr24");
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--flip") {
            flip = true;
        } else if (a == "--size" && i + 1 < args.size()) {
            if (!parseSize(args[++i], dstW, dstH))
                return std::fprintf(stderr, "nxtool convert: --size takes WxH of 1 .. %d\n",
                                    kMaxSide), 2;
        } else if (a == "--to" && i + 1 < args.size()) {
            to = findLayout(args[++i]);
            if (!to)
                return std::fprintf(stderr, "nxtool convert: unknown layout %s\n", args[i].c_str()), 2;
        } else if (a == "--yuyv" && i + 2 < args.size()) {
            yuyv = true;
            if (!parseSide(args[i + 1], yuvW) || !parseSide(args[i + 2], yuvH))
                return std::fprintf(stderr, "nxtool convert: --yuyv takes W H of 1 .. %d\n",
                                    kMaxSide), 2;
            i += 2;
        } else {
            files.push_back(a);
        }
    }
    if (files.size() != 2)
        return std::fprintf(stderr, "usage: nxtool convert IN OUT.bmp ... (nxtool convert --help)\n"), 2;

    std::vector<char> input;
    if (!nxtool::readInput("convert", files[0], input))
        return 1;
    RGBScale scale;
    int srcW, srcH;
    Bytes out;
    if (yuyv) {
        srcW = yuvW;
        srcH = yuvH;
        if (srcW <= 0 || srcH <= 0 || input.size() < static_cast<std::size_t>(srcW) * 2 * srcH)
            return std::fprintf(stderr, "nxtool convert: %s holds fewer than %d x %d YUYV pixels\n",
                                files[0].c_str(), srcW, srcH), 1;
        if (!dstW)
            dstW = srcW, dstH = srcH;
        const int stride = paddedStride(dstW, to->bytes);
        out.assign(static_cast<std::size_t>(stride) * dstH, kUntouched);
        scale.initYUV2ToRGB(srcW, srcH, dstW, dstH, stride, to->type);
        scale.convertYUV2ToRGB(reinterpret_cast<unsigned char*>(input.data()), out.data());
        if (flip)
            std::fprintf(stderr, "nxtool convert: --flip applies to bitmaps only\n");
    } else {
        Bitmap bmp;
        std::string why;
        if (!parseBitmap(input, bmp, why))
            return std::fprintf(stderr, "nxtool convert: %s: %s\n", files[0].c_str(), why.c_str()), 1;
        srcW = bmp.width;
        srcH = bmp.height;
        if (!dstW)
            dstW = srcW, dstH = srcH;
        const int stride = paddedStride(dstW, to->bytes);
        out.assign(static_cast<std::size_t>(stride) * dstH, kUntouched);
        scale.initRGBToRGB(srcW, srcH, dstW, dstH, bmp.stride, stride,
                           bmp.bytes == 3 ? RGBScale::BGR24 : RGBScale::BGRA32, to->type);
        // A bottom-up file stores the picture upside down: reading it flipped turns it upright.
        scale.convertRGBToRGB(const_cast<unsigned char*>(bmp.pixels), out.data(), flip != !bmp.topDown);
    }
    if (untouched(out))
        return std::fprintf(stderr, "nxtool convert: nothing converted (no scaler found, or a "
                                    "source below 4 x 4)\n"), 1;
    if (!writeBitmap(files[1], out, dstW, dstH, to->bytes))
        return std::fprintf(stderr, "nxtool convert: cannot write %s: %s\n", files[1].c_str(),
                            nxtool::utf8(pubfunc::lastFileError()).c_str()), 1;
    std::printf("%s: %dx%d -> %s: %dx%d %s%s\n", files[0].c_str(), srcW, srcH, files[1].c_str(), dstW,
                dstH, to->name, flip ? ", flipped" : "");
    return 0;
}

// ---- demo -----------------------------------------------------------------------------------

// A 16 x 8 BGRA test frame: red grows to the right, green downwards, blue is 64.
Bytes testFrame() {
    Bytes f(16 * 8 * 4);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 16; ++x) {
            unsigned char* p = &f[static_cast<std::size_t>((y * 16 + x) * 4)];
            p[0] = 64;
            p[1] = static_cast<unsigned char>(y * 32);
            p[2] = static_cast<unsigned char>(x * 16);
            p[3] = 255;
        }
    return f;
}

int demoVideo() {
    Bytes frame = testFrame();
    RGBScale scale;
    Bytes rgb(16 * 8 * 3, kUntouched);
    scale.initRGBToRGB(16, 8, 16, 8, 16 * 4, 16 * 3, RGBScale::BGRA32, RGBScale::RGB24);
    scale.convertRGBToRGB(frame.data(), rgb.data(), false);
    if (untouched(rgb)) {
        std::printf("no scaler library found: RGBScale works and converts nothing\n");
        return 0;
    }
    std::printf("16x8 BGRA test frame (red grows to the right, green downwards):\n");
    std::printf("  BGRA pixel (15,0) = %3d %3d %3d %3d -> RGB24 %3d %3d %3d\n", frame[60], frame[61],
                frame[62], frame[63], rgb[45], rgb[46], rgb[47]);
    scale.convertRGBToRGB(frame.data(), rgb.data(), true);
    std::printf("  flipped: first row's green = %d (the source's last row)\n", rgb[1]);
    // Bitmaps hold blue, green, red: the viewer-ready copy is converted to BGR24 and scaled up.
    Bytes shown(64 * 32 * 3, kUntouched);
    scale.initRGBToRGB(16, 8, 64, 32, 16 * 4, 64 * 3, RGBScale::BGRA32, RGBScale::BGR24);
    scale.convertRGBToRGB(frame.data(), shown.data(), false);
    const std::string bitmap = nxtool::demoFolder() + "/frame.bmp";
    std::printf("  scaled to 64x32 as BGR24 and saved: %s %s\n", bitmap.c_str(),
                writeBitmap(bitmap, shown, 64, 32, 3) ? "(written)" : "(not written)");

    Bytes small(8 * 4 * 3, kUntouched);
    scale.initRGBToRGB(16, 8, 8, 4, 16 * 4, 8 * 3, RGBScale::BGRA32, RGBScale::RGB24);
    scale.convertRGBToRGB(frame.data(), small.data(), false);
    std::printf("  scaled to 8x4 (bicubic), red of each pixel:\n");
    for (int y = 0; y < 4; ++y) {
        std::printf("   ");
        for (int x = 0; x < 8; ++x)
            std::printf(" %3d", small[static_cast<std::size_t>((y * 8 + x) * 3)]);
        std::printf("\n");
    }
    // Four YUYV pixels a row: Y rises, U and V neutral (a grey ramp).
    Bytes yuyv(8 * 4 * 2);
    for (std::size_t i = 0; i < yuyv.size(); i += 2) {
        yuyv[i] = static_cast<unsigned char>(16 + (i / 2 % 8) * 30);
        yuyv[i + 1] = 128;
    }
    Bytes bgra(8 * 4 * 4, kUntouched);
    scale.initYUV2ToRGB(8, 4, 8, 4, 8 * 4, RGBScale::BGRA32);
    scale.convertYUV2ToRGB(yuyv.data(), bgra.data());
    std::printf("  YUYV grey ramp -> BGRA blue of row 0:");
    for (int x = 0; x < 8; ++x)
        std::printf(" %d", bgra[static_cast<std::size_t>(x * 4)]);
    std::printf("\n");
    return 0;
}

}  // namespace

NXTOOL_COMMAND("convert", "convert and scale a bitmap or a YUYV frame through the scaler",
               "usage: nxtool convert IN.bmp OUT.bmp [--size WxH] [--flip] [--to LAYOUT]\n"
               "       nxtool convert --yuyv W H IN.raw OUT.bmp [--size WxH] [--to LAYOUT]\n\n"
               "Reads an uncompressed 24- or 32-bit bitmap (or W x H packed YUYV 4:2:2 pixels),\n"
               "converts it to LAYOUT (rgb24, bgr24 (default), bgra, rgba, rgb565, rgb555), scaled\n"
               "to WxH when given (point sampling at equal sizes, bicubic otherwise), upside down\n"
               "with --flip, and writes the converted bytes as they are in a top-down bitmap of\n"
               "24, 32 or 16 bits a pixel. Viewers read 24/32-bit bitmaps as bgr24/bgra; the other\n"
               "layouts show swapped or mixed colours there, by design.",
               runConvert);
NXTOOL_DEMO(90, "video: frame conversion through the scaler", demoVideo);
