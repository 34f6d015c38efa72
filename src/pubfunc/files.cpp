// pubfunc files: existence, free space, whole-file reads and bitmap files.
#include "pubfunc/pubfunc.h"

#include "platform/file.h"

namespace {

// Closes a platform file handle when it goes out of scope.
struct FileCloser {
    platform::FileHandle file;
    ~FileCloser() { platform::fileClose(file); }
};

void put16(unsigned char* p, unsigned int v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}

void put32(unsigned char* p, unsigned int v) {
    put16(p, v);
    put16(p + 2, v >> 16);
}

}  // namespace

bool pubfunc::isFileExist(const std::u16string& path) { return platform::pathExists(path.c_str()); }

long long pubfunc::getDiskFreeSpace(const std::u16string& path) {
    const long long bytes = platform::volumeFreeBytes(path.c_str());
    return bytes < 0 ? 0 : bytes;
}

bool pubfunc::loadBinaryFile(const std::u16string& path, std::vector<char>& bytes) {
    const FileCloser f{platform::fileOpen(path.c_str(), platform::FileAccess::Read)};
    if (f.file == platform::kNoFile)
        return false;
    const long long size = platform::fileSize(f.file);
    if (size > 0) {
        bytes.resize(static_cast<std::size_t>(size));
        platform::fileSeek(f.file, 0);
        // A short read is not an error: the bytes that arrived are kept.
        std::size_t done = 0;
        while (done < bytes.size()) {
            const long long n = platform::fileRead(f.file, bytes.data() + done, bytes.size() - done);
            if (n <= 0)
                break;
            done += static_cast<std::size_t>(n);
        }
    }
    return true;
}

bool pubfunc::saveAsBMP(const void* data, unsigned int size, int width, int height, int bitCount,
                        const char16_t* fileName) {
    if (!fileName)
        return false;
    const FileCloser f{platform::fileOpen(fileName, platform::FileAccess::CreateKeepExclusive)};
    if (f.file == platform::kNoFile)
        return false;

    unsigned char header[54] = {};
    // File header (14 bytes).
    header[0] = 'B';
    header[1] = 'M';
    put32(header + 2, size + 54u);
    put32(header + 10, 54);
    // Info header (40 bytes); a negative height stores the top row first.
    put32(header + 14, 40);
    put32(header + 18, static_cast<unsigned int>(width));
    put32(header + 22, static_cast<unsigned int>(-static_cast<long long>(height)));
    put16(header + 26, 1);
    put16(header + 28, static_cast<unsigned int>(bitCount) & 0xFFFFu);
    // Compression, image size, resolutions and colour counts stay 0.

    platform::fileWrite(f.file, header, sizeof header);
    if (data && size)
        platform::fileWrite(f.file, data, size);
    return true;
}
