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
#include <string>

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
    CreateNew,            ///< a new file that must not exist yet (never a link's target);
                          ///< POSIX: readable and writable by its owner only; read and write
    WriteExisting,        ///< existing file, keep its bytes; write from offset 0
};

/// What fileStatus learns of an open file.
struct FileStatus {
    long long size = 0;      ///< bytes; meaningful for regular files only
    bool regular = false;    ///< a regular file (not a folder, FIFO, device or socket)
    bool directory = false;  ///< a folder
    unsigned mode = 0;       ///< POSIX permission bits (0 on Win32, whose files have ACLs)
    std::uint32_t owner = 0; ///< POSIX owner's user id (0 on Win32, whose files have ACLs)
    /// Which file it is: the device and inode (POSIX), the volume serial number and file index
    /// (Win32; 0 for files that are not on a disk). Two handles with equal pairs name one file.
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    /// The names (hard links) the file has; 0 once its last name was removed while it is open.
    unsigned links = 0;
};

/// Opens `path`; kNoFile (and lastError) on failure. Interrupted opens are retried.
FileHandle fileOpen(const char16_t* path, FileAccess access);
/// Writes all `size` bytes (retrying short writes); the count written, or -1 on failure.
long long fileWrite(FileHandle file, const void* data, std::size_t size);
/// Reads up to `size` bytes (retrying interrupted reads); the count read (0 at the end), or -1.
long long fileRead(FileHandle file, void* data, std::size_t size);
/// Moves the position to `offset` from the start; false on failure.
bool fileSeek(FileHandle file, long long offset);
/// The file's size in bytes, or -1.
long long fileSize(FileHandle file);
/// The file's size, type and permission bits; false on failure.
bool fileStatus(FileHandle file, FileStatus& out);
/// Closes the handle; kNoFile is ignored.
void fileClose(FileHandle file);
/// Sets a file's POSIX permission bits (fchmod); Win32 files keep their ACLs (true).
bool setFileMode(FileHandle file, unsigned mode);
/// Pushes written bytes to the disk (fsync, FlushFileBuffers); false on failure.
bool fileFlush(FileHandle file);
/// Sets the file's size (truncating or extending with zeros); false on failure.
bool fileResize(FileHandle file, long long size);

/// A buffer from the heap for large data (file contents, indexes): null when there is no
/// memory, never an exception. Released with freeBuffer.
void* allocBuffer(std::size_t bytes);
/// Resizes a buffer as realloc does: null (and `buffer` untouched) when there is no memory.
void* resizeBuffer(void* buffer, std::size_t bytes);
void freeBuffer(void* buffer);

/// Why a whole-file read or write did not happen.
enum class FileResult {
    Ok,
    OpenFailed,  ///< the path cannot be opened (lastError says why)
    NotRegular,  ///< a folder, FIFO, device or socket: never read or written
    TooLarge,    ///< more bytes than the caller's limit
    NoMemory,    ///< no buffer for the contents
    ReadFailed,
    WriteFailed,  ///< writing, flushing or renaming failed; the old file is intact
};

/// The whole contents of a regular file: mapped when the system can map it, otherwise read
/// into a buffer. Opens the file once and never blocks on a FIFO or device.
class FileContents {
public:
    FileContents() = default;
    ~FileContents() { release(); }
    FileContents(const FileContents&) = delete;
    FileContents& operator=(const FileContents&) = delete;

    /// Reads `path` if it is a regular file of at most `maxBytes` bytes; on failure the
    /// contents are empty. `size()` is the file's size even when it is TooLarge.
    FileResult load(const char16_t* path, long long maxBytes);
    const char* data() const { return m_data; }
    long long size() const { return m_size; }
    void release();

private:
    const char* m_data = nullptr;
    long long m_size = 0;
    bool m_mapped = false;
};

/// Replaces the file at `path` with `size` bytes so that it holds either its old contents or
/// the complete new ones, whatever fails: the bytes go to a new file in the same folder
/// (created exclusively, never through a link), are flushed to the disk and renamed over the
/// old file, which keeps its permission bits. Only when the folder cannot take a new file is
/// an existing regular file rewritten in place (`*inPlace` set), which a failure can leave cut;
/// with ReplaceMode::AtomicOnly the call fails instead (OpenFailed) and the old file stays.
/// A `path` that names a folder, FIFO or device is refused (NotRegular).
enum class ReplaceMode { AllowInPlace, AtomicOnly };
FileResult replaceFile(const char16_t* path, const void* data, std::size_t size,
                       bool* inPlace = nullptr, ReplaceMode mode = ReplaceMode::AllowInPlace);

/// The temporary files of replaceFile are named "<file name>.tmp<writer's process id>-<16 hex
/// digits>". When `entry` (a bare file name) is one for `fileName`, gives the writer's id.
bool temporaryWriter(const std::u16string& entry, const std::u16string& fileName,
                     unsigned long* pid);
/// Deletes from `folder` ("" for the current one, else ending in a separator) the temporary
/// files of `fileName` left by writers that are no longer running: regular files only, owned
/// by the calling user on POSIX; links and folders are never followed or removed.
void removeDeadTemporaries(const std::u16string& folder, const std::u16string& fileName);

/// True when the path's attributes can be read: an existing file or folder (GetFileAttributesW).
bool pathExists(const char16_t* path);
/// True when the path names an existing folder.
bool isDirectory(const char16_t* path);
/// True when the path can be opened for reading (the probe is closed at once).
bool fileReadable(const char16_t* path);
/// Creates the folder with every missing parent (SHCreateDirectoryExW). True when the folder
/// exists afterwards as a folder; an empty path, or a parent that is a file, gives false.
bool createDirectories(const char16_t* path);
/// The folder for temporary files, without a trailing separator: POSIX $TMPDIR when it is
/// set and not empty, else /tmp; Win32 GetTempPathW. Empty when it cannot be determined.
std::u16string temporaryFolder();
/// Creates the one folder `path`, which must not exist yet (an existing folder, file or link
/// of that name fails, `*clash` set), accessible to its owner only: POSIX mode 0700; Win32 the
/// inherited ACL (the user's temporary folder is the user's own). False on failure.
bool createFolderExclusive(const char16_t* path, bool* clash);
/// Creates a new private folder "<temporaryFolder()><separator><prefix>XXXXXX" with
/// createFolderExclusive (the X a random suffix, another one tried when the name is taken), so
/// that a folder or link another user planted under a predictable name is never used. The
/// path in `*out`; false (and lastError) when none can be created.
bool createPrivateDirectory(const char16_t* prefix, std::u16string* out);
/// Moves or renames a file; an existing target is not replaced (the call fails).
bool moveFile(const char16_t* from, const char16_t* to);
/// True when `path` names the file open as `file` (the same device/volume and inode/file
/// index); false when it names another file or nothing, or either side cannot be examined.
/// Costs a status of the handle and one look-up of the path (stat; an attribute-only open on
/// Win32), no reading.
bool sameFile(FileHandle file, const char16_t* path);
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
