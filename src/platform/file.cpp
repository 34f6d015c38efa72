// File operations shared by both backends, built on the system-call table: the retries of
// interrupted calls, whole transfers out of short ones, whole-file reading and the replacing
// whole-file writer.
#include "platform/file.h"
#include "platform/error.h"
#include "platform/clock.h"
#include "platform/process.h"
#include "platform/syscalls.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace platform {

namespace {

bool interrupted() { return isInterrupted(lastError().code); }

// Writes everything or fails; a write that makes no progress is a failure too (a full disk
// that the system reports as a zero-byte write).
bool writeAll(FileHandle file, const char* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const long long n = sys().write(file, data + done, size - done);
        if (n < 0) {
            if (interrupted())
                continue;
            return false;
        }
        if (n == 0) {
            setLastError(nativeError(Fault::NoSpace), "write");
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// The folder part of a path, up to and including its last separator ("" when it has none).
std::u16string folderOf(const char16_t* path) {
    const std::u16string p = path;
    const std::size_t cut = p.find_last_of(kPathSeparator == u'\\' ? u"\\/" : u"/");
    return cut == std::u16string::npos ? std::u16string() : p.substr(0, cut + 1);
}

// 64 bits that no other caller, in this process or another, is likely to get: the process id,
// the clock, a counter shared by every thread and the caller's attempt, spread over the word.
std::uint64_t uniqueBits(unsigned attempt) {
    static std::atomic<std::uint32_t> counter{0};
    std::uint64_t mix = (static_cast<std::uint64_t>(currentProcessId()) << 32) ^
                        static_cast<std::uint64_t>(perfCounter()) ^
                        (static_cast<std::uint64_t>(counter.fetch_add(1) + 1) << 20) ^
                        (static_cast<std::uint64_t>(attempt) << 40);
    mix *= 0x9E3779B97F4A7C15ull;  // spreads the low-entropy bits over the whole word
    return mix ^ (mix >> 29);
}

// A name in `folder` that no other writer is likely to pick: the process id (which also lets
// a later writer tell a dead writer's leftover from a running writer's file), then 16 hex
// digits of uniqueBits, so a planted file of a predictable name does not block the writer
// (and could not redirect it anyway: the file is created exclusively).
std::u16string temporaryName(const std::u16string& folder, const char16_t* path, unsigned attempt) {
    const std::uint64_t mix = uniqueBits(attempt);
    std::u16string name = folder;
    const std::u16string full = path;
    name += full.substr(folder.size());
    name += u".tmp";
    for (const char c : std::to_string(currentProcessId()))
        name += static_cast<char16_t>(c);
    name += u'-';
    for (int shift = 60; shift >= 0; shift -= 4)
        name += u"0123456789abcdef"[(mix >> shift) & 15];
    return name;
}

// Six letters and digits of uniqueBits.
std::u16string randomSuffix(unsigned attempt) {
    std::uint64_t mix = uniqueBits(attempt);
    static const char16_t kDigits[] = u"abcdefghijklmnopqrstuvwxyz0123456789";
    std::u16string out;
    for (int i = 0; i < 6; ++i) {
        out += kDigits[(mix >> 40) % 36];
        mix *= 0x9E3779B97F4A7C15ull;
        mix ^= mix >> 29;
    }
    return out;
}

}  // namespace

bool temporaryWriter(const std::u16string& entry, const std::u16string& fileName,
                     unsigned long* pid) {
    const std::u16string prefix = fileName + u".tmp";
    if (entry.size() <= prefix.size() || entry.compare(0, prefix.size(), prefix) != 0)
        return false;
    std::size_t p = prefix.size();
    unsigned long long id = 0;  // process ids fit in 32 bits on both systems
    const std::size_t digits = p;
    while (p < entry.size() && entry[p] >= u'0' && entry[p] <= u'9' && p - digits < 10) {
        id = id * 10 + static_cast<unsigned long long>(entry[p] - u'0');
        ++p;
    }
    if (p == digits || entry[digits] == u'0' || id > 0xFFFFFFFFull || p >= entry.size() ||
        entry[p] != u'-' ||
        entry.size() - p - 1 != 16)
        return false;
    for (++p; p < entry.size(); ++p)
        if (!((entry[p] >= u'0' && entry[p] <= u'9') || (entry[p] >= u'a' && entry[p] <= u'f')))
            return false;
    if (pid)
        *pid = static_cast<unsigned long>(id);
    return true;
}

FileHandle fileOpen(const char16_t* path, FileAccess access) {
    for (;;) {
        const FileHandle f = sys().open(path, access);
        if (f != kNoFile || !interrupted())
            return f;
    }
}

long long fileWrite(FileHandle file, const void* data, std::size_t size) {
    return writeAll(file, static_cast<const char*>(data), size) ? static_cast<long long>(size)
                                                                 : -1;
}

long long fileRead(FileHandle file, void* data, std::size_t size) {
    for (;;) {
        const long long n = sys().read(file, data, size);
        if (n >= 0 || !interrupted())
            return n;
    }
}

bool fileSeek(FileHandle file, long long offset) { return sys().seek(file, offset); }

bool fileStatus(FileHandle file, FileStatus& out) {
    out = FileStatus();
    return sys().status(file, out);
}

long long fileSize(FileHandle file) {
    FileStatus st;
    return fileStatus(file, st) ? st.size : -1;
}

void fileClose(FileHandle file) {
    if (file != kNoFile)
        sys().close(file);
}

bool fileFlush(FileHandle file) { return sys().flush(file); }

bool fileResize(FileHandle file, long long size) { return sys().resize(file, size); }

bool fileReadable(const char16_t* path) {
    const FileHandle f = fileOpen(path, FileAccess::Read);
    fileClose(f);
    return f != kNoFile;
}

void* allocBuffer(std::size_t bytes) { return sys().allocate(nullptr, bytes); }

void* resizeBuffer(void* buffer, std::size_t bytes) { return sys().allocate(buffer, bytes); }

void freeBuffer(void* buffer) { std::free(buffer); }

bool mapFileRead(const char16_t* path, FileView& view) {
    view = FileView();
    const FileHandle f = fileOpen(path, FileAccess::Read);
    if (f == kNoFile)
        return false;
    FileStatus st;
    const bool mappable = fileStatus(f, st) && st.regular && st.size > 0 &&
                          static_cast<unsigned long long>(st.size) <= SIZE_MAX;
    const void* data = mappable ? sys().mapView(f, static_cast<std::size_t>(st.size)) : nullptr;
    fileClose(f);  // the mapping keeps the file
    if (!data)
        return false;
    view.data = static_cast<const char*>(data);
    view.size = st.size;
    return true;
}

void unmapFile(FileView& view) {
    unmapView(view.data, static_cast<std::size_t>(view.size));
    view = FileView();
}

void FileContents::release() {
    if (m_mapped)
        unmapView(m_data, static_cast<std::size_t>(m_size));
    else
        freeBuffer(const_cast<char*>(m_data));
    m_data = nullptr;
    m_size = 0;
    m_mapped = false;
}

FileResult FileContents::load(const char16_t* path, long long maxBytes) {
    release();
    const FileHandle f = fileOpen(path, FileAccess::Read);
    if (f == kNoFile)
        return FileResult::OpenFailed;
    FileStatus st;
    FileResult result = FileResult::Ok;
    if (!fileStatus(f, st))
        result = FileResult::ReadFailed;
    else if (!st.regular)
        result = FileResult::NotRegular;
    else if (st.size > maxBytes || static_cast<unsigned long long>(st.size) >= SIZE_MAX)
        result = FileResult::TooLarge;
    m_size = result == FileResult::TooLarge ? st.size : 0;
    if (result != FileResult::Ok || st.size == 0) {
        fileClose(f);
        return result;
    }
    const std::size_t size = static_cast<std::size_t>(st.size);
    // A mapping spares copying the bytes of a large file; a small one is read, since setting
    // up and tearing down a mapping costs more than copying a few pages. A file system that
    // cannot map gets one read too.
    constexpr std::size_t kReadBelow = 64 * 1024;
    if (const void* view = size < kReadBelow ? nullptr : sys().mapView(f, size)) {
        m_data = static_cast<const char*>(view);
        m_size = st.size;
        m_mapped = true;
        fileClose(f);
        return FileResult::Ok;
    }
    char* buffer = static_cast<char*>(allocBuffer(size));
    if (!buffer) {
        fileClose(f);
        return FileResult::NoMemory;
    }
    // The file may shrink while it is read: keep what is there.
    std::size_t done = 0;
    while (done < size) {
        const long long n = fileRead(f, buffer + done, size - done);
        if (n < 0) {
            freeBuffer(buffer);
            fileClose(f);
            return FileResult::ReadFailed;
        }
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    fileClose(f);
    m_data = buffer;
    m_size = static_cast<long long>(done);
    return FileResult::Ok;
}

FileResult replaceFile(const char16_t* path, const void* data, std::size_t size, bool* inPlace,
                       ReplaceMode mode) {
    if (inPlace)
        *inPlace = false;
    if (!path || !*path) {
        setLastError(nativeError(Fault::AccessDenied), "open");
        return FileResult::OpenFailed;
    }
    // The old file's kind and permission bits; a folder, FIFO or device is never replaced.
    FileStatus old;
    bool exists = false;
    const FileHandle current = fileOpen(path, FileAccess::Read);
    if (current != kNoFile) {
        exists = fileStatus(current, old);
        fileClose(current);
        if (exists && !old.regular)
            return FileResult::NotRegular;
    } else if (isDirectory(path)) {
        return FileResult::NotRegular;  // Win32 opens no folder as a file
    }
    const char* bytes = static_cast<const char*>(data);
    const std::u16string folder = folderOf(path);
    // Writers killed mid-write leave their temporary files behind; the next write of the same
    // file clears those of writers that are gone.
    removeDeadTemporaries(folder, std::u16string(path).substr(folder.size()));
    FileHandle temp = kNoFile;
    std::u16string tempPath;
    for (unsigned attempt = 0; attempt < 8 && temp == kNoFile; ++attempt) {
        tempPath = temporaryName(folder, path, attempt);
        temp = fileOpen(tempPath.c_str(), FileAccess::CreateNew);
        if (temp == kNoFile && !pathExists(tempPath.c_str()))
            break;  // not a name clash: the folder takes no new file
    }
    if (temp == kNoFile) {
        const Error refused = lastError();
        // The folder takes no new file (read-only folder, quota): rewrite an existing file in
        // place as the last resort, unless the caller wants old-or-new contents only.
        const bool rewrite = exists && mode == ReplaceMode::AllowInPlace;
        const FileHandle f = rewrite ? fileOpen(path, FileAccess::WriteExisting) : kNoFile;
        if (f == kNoFile) {
            setLastError(refused.code, refused.call);
            return FileResult::OpenFailed;
        }
        if (inPlace)
            *inPlace = true;
        FileStatus st;
        const bool ok = fileStatus(f, st) && st.regular && writeAll(f, bytes, size) &&
                        fileResize(f, static_cast<long long>(size)) && fileFlush(f);
        fileClose(f);
        return ok ? FileResult::Ok : FileResult::WriteFailed;
    }
    bool ok = writeAll(temp, bytes, size) && (!exists || setFileMode(temp, old.mode)) &&
              fileFlush(temp);
    const Error writeError = lastError();
    if (!sys().close(temp) && ok) {
        ok = false;  // a deferred write error (network file systems report it at close)
    } else if (!ok) {
        setLastError(writeError.code, writeError.call);
    }
    if (ok && !sys().rename(tempPath.c_str(), path))
        ok = false;
    if (!ok) {
        const Error e = lastError();
        deleteFile(tempPath.c_str());
        setLastError(e.code, e.call);
        return FileResult::WriteFailed;
    }
    return FileResult::Ok;
}

bool createPrivateDirectory(const char16_t* prefix, std::u16string* out) {
    const std::u16string folder = temporaryFolder();
    if (folder.empty() || !prefix || !out) {
        setLastError(nativeError(Fault::AccessDenied), "mkdir");
        return false;
    }
    for (unsigned attempt = 0; attempt < 32; ++attempt) {
        std::u16string path = folder;
        path += kPathSeparator;
        path += prefix;
        path += randomSuffix(attempt);
        bool clash = false;
        if (createFolderExclusive(path.c_str(), &clash)) {
            *out = path;
            return true;
        }
        if (!clash)
            return false;  // not a taken name: the folder takes no new folder
    }
    return false;
}

}  // namespace platform
