// pubfunc files: existence, free space, whole-file reads and writes, and bitmap files.
#include "pubfunc/pubfunc.h"

#include "platform/error.h"
#include "platform/file.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <new>
#include <stdexcept>

namespace {

using platform::FileResult;

// Why the calling thread's last whole-file operation failed.
struct FileFailure {
    FileResult result;
    int code;          // the platform's native error, 0 when none applies
    const char* call;  // the failed system operation ("open", "write", ...)
};
thread_local FileFailure t_failure = {FileResult::Ok, 0, ""};

// Records a failure with the platform's last error and returns false.
bool failed(FileResult result) {
    const platform::Error e = platform::lastError();
    t_failure = {result, e.code, e.call};
    return false;
}

// An existing file is written only if it is a regular file that this process could open for
// writing, without sharing: replacing it through a rename would otherwise get past a
// write-protected file or one another writer holds exclusively. A path that cannot be read is
// left to the writer, which creates it or reports why not.
FileResult checkExisting(const char16_t* path) {
    const platform::FileHandle f = platform::fileOpen(path, platform::FileAccess::Read);
    if (f == platform::kNoFile)
        return FileResult::Ok;
    platform::FileStatus st;
    const bool known = platform::fileStatus(f, st);
    platform::fileClose(f);
    if (!known)
        return FileResult::OpenFailed;
    if (!st.regular)
        return FileResult::NotRegular;
    const platform::FileHandle w =
        platform::fileOpen(path, platform::FileAccess::CreateKeepExclusive);
    if (w == platform::kNoFile)
        return FileResult::OpenFailed;
    platform::fileClose(w);
    return FileResult::Ok;
}

void put16(unsigned char* p, unsigned int v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}

void put32(unsigned char* p, unsigned int v) {
    put16(p, v);
    put16(p + 2, v >> 16);
}

constexpr std::size_t kBitmapHeaderBytes = 54;

}  // namespace

bool pubfunc::isFileExist(const std::u16string& path) { return platform::pathExists(path.c_str()); }

long long pubfunc::getDiskFreeSpace(const std::u16string& path) {
    const long long bytes = platform::volumeFreeBytes(path.c_str());
    return bytes < 0 ? 0 : bytes;
}

bool pubfunc::loadBinaryFile(const std::u16string& path, std::vector<char>& bytes) {
    // One open; a folder, FIFO or device is never read (it could block or never end), and a
    // file larger than a vector can hold is refused before anything is allocated.
    platform::FileContents file;
    const FileResult read = file.load(path.c_str(), static_cast<long long>(bytes.max_size()));
    if (read != FileResult::Ok)
        return failed(read);
    if (file.size() > 0) {
        // The vector is replaced only once the new bytes have room (assign leaves it as it
        // was when the allocation fails).
        try {
            bytes.assign(file.data(), file.data() + file.size());
        } catch (const std::bad_alloc&) {
            return failed(FileResult::NoMemory);
        } catch (const std::length_error&) {
            return failed(FileResult::NoMemory);
        }
    }
    return true;
}

bool pubfunc::saveBinaryFile(const std::u16string& path, const void* data, std::size_t size) {
    FileResult result = checkExisting(path.c_str());
    if (result == FileResult::Ok)
        result = platform::replaceFile(path.c_str(), data, data ? size : 0);
    return result == FileResult::Ok || failed(result);
}

bool pubfunc::saveAsBMP(const void* data, unsigned int size, int width, int height, int bitCount,
                        const char16_t* fileName) {
    if (!fileName) {
        t_failure = {FileResult::OpenFailed, 0, ""};
        return false;
    }
    const FileResult existing = checkExisting(fileName);
    if (existing != FileResult::Ok)
        return failed(existing);
    const std::size_t pixelBytes = data ? size : 0;
    if (pixelBytes > SIZE_MAX - kBitmapHeaderBytes) {
        t_failure = {FileResult::NoMemory, 0, ""};
        return false;
    }
    const std::size_t newBytes = kBitmapHeaderBytes + pixelBytes;

    // The file keeps the old bytes beyond the new ones, so the complete new contents are the
    // headers, the pixels and that tail; they replace the file as a whole.
    platform::FileContents old;
    const FileResult read = old.load(fileName, LLONG_MAX);
    if (read != FileResult::Ok && (read != FileResult::OpenFailed || platform::pathExists(fileName)))
        return failed(read);  // an existing file whose tail cannot be read is not cut
    const std::size_t oldBytes = static_cast<std::size_t>(old.size());
    const std::size_t total = oldBytes > newBytes ? oldBytes : newBytes;
    unsigned char* contents = static_cast<unsigned char*>(platform::allocBuffer(total));
    if (!contents)
        return failed(FileResult::NoMemory);

    unsigned char* header = contents;
    std::memset(header, 0, kBitmapHeaderBytes);
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
    if (pixelBytes)
        std::memcpy(contents + kBitmapHeaderBytes, data, pixelBytes);
    if (oldBytes > newBytes)
        std::memcpy(contents + newBytes, old.data() + newBytes, oldBytes - newBytes);
    old.release();  // a mapping of the old file must not outlive it (Windows renames refuse)

    const FileResult written = platform::replaceFile(fileName, contents, total);
    platform::freeBuffer(contents);
    return written == FileResult::Ok || failed(written);
}

std::u16string pubfunc::createPrivateFolder(const std::u16string& prefix) {
    std::u16string path;
    if (platform::createPrivateDirectory(prefix.c_str(), &path))
        return path;
    failed(FileResult::OpenFailed);
    return std::u16string();
}

std::u16string pubfunc::lastFileError() {
    const FileFailure f = t_failure;
    switch (f.result) {
    case FileResult::Ok:
        return std::u16string();
    case FileResult::NotRegular:
        return u"not a regular file";
    case FileResult::TooLarge:
        return u"file too large";
    case FileResult::NoMemory:
        return toWideString(std::strerror(ENOMEM), -1, 0);
    default:
        break;
    }
    if (f.code == 0)
        return u"no file name";
    std::string text = f.call;
    text += ": ";
    text += std::strerror(platform::errnoOf(f.code));
    return toWideString(text.c_str(), -1, 0);
}
