// Files and folders named by UTF-16 paths.
//
// Handles are unbuffered: every write goes to the operating system at once, so a caller that
// needs "write, then flush" semantics gets them from fileWrite alone. Paths are passed through
// unchanged (no separator translation); the POSIX backend hands them to the kernel as UTF-8.
#ifndef NXUTIL_PLATFORM_FILE_H
#define NXUTIL_PLATFORM_FILE_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace platform {

/// The separator of the paths the library builds: '\\' on Windows, '/' elsewhere.
extern const char16_t kPathSeparator;

/// An open file: a descriptor (POSIX) or a HANDLE (Win32); kNoFile when there is none.
typedef std::intptr_t FileHandle;
constexpr FileHandle kNoFile = -1;

/// How fileOpen opens a path. Every mode shares reading and writing with other openers except
/// CreateKeepExclusive, which shares nothing.
enum class FileAccess {
    Read,                 ///< existing file, reading only
    Append,               ///< create when missing; every write lands at the current end
    CreateTruncate,       ///< create when missing, otherwise empty it; read and write
    CreateKeepExclusive,  ///< create when missing, keep existing bytes; write from offset 0
};

/// Opens `path`; kNoFile (and lastError) on failure.
FileHandle fileOpen(const char16_t* path, FileAccess access);
/// Writes all `size` bytes (retrying short writes); the count written, or -1 on failure.
long long fileWrite(FileHandle file, const void* data, std::size_t size);
/// Reads up to `size` bytes; the count read (0 at the end), or -1 on failure.
long long fileRead(FileHandle file, void* data, std::size_t size);
/// Moves the position to `offset` from the start; false on failure.
bool fileSeek(FileHandle file, long long offset);
/// The file's size in bytes, or -1.
long long fileSize(FileHandle file);
/// Closes the handle; kNoFile is ignored.
void fileClose(FileHandle file);

/// True when the path's attributes can be read: an existing file or folder (GetFileAttributesW).
bool pathExists(const char16_t* path);
/// True when the path names an existing folder.
bool isDirectory(const char16_t* path);
/// True when the path can be opened for reading (the probe is closed at once).
bool fileReadable(const char16_t* path);
/// Creates the folder with every missing parent (SHCreateDirectoryExW). True when the folder
/// exists afterwards as a folder; an empty path, or a parent that is a file, gives false.
bool createDirectories(const char16_t* path);
/// Moves or renames a file; an existing target is not replaced (the call fails).
bool moveFile(const char16_t* from, const char16_t* to);
/// Deletes a file; false when it does not exist or cannot be deleted.
bool deleteFile(const char16_t* path);

/// Opens `path` as a C stream with an fopen mode ("rb", "wb", ...): _wfopen on Windows, the
/// UTF-8 path through fopen elsewhere. Null on failure, with errno set by the runtime (callers
/// report its standard message) and lastError recorded.
std::FILE* openFile(const char16_t* path, const char* mode);

/// A read-only mapping of a whole file.
struct FileView {
    const char* data = nullptr;  ///< the file's bytes; null when not mapped
    long long size = 0;
};
/// Maps the whole file `path` for reading (mmap / MapViewOfFile); false (view left empty) when
/// it cannot be mapped, for example an empty file or one that is not a regular file. Reading
/// through a mapping spares copying the bytes and zeroing a buffer for them.
bool mapFileRead(const char16_t* path, FileView& view);
/// Releases a mapping made by mapFileRead; an empty view is ignored.
void unmapFile(FileView& view);

/// Bytes available to the calling user on the volume of `path`, or -1 on failure.
/// Win32: GetDiskFreeSpaceExW of the root made of the first three characters ("C:\\").
/// POSIX: statvfs of the path itself, which must exist.
long long volumeFreeBytes(const char16_t* path);

}  // namespace platform

#endif
