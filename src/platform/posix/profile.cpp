// Private-profile files on POSIX: the shared INI engine over the platform's whole-file reader
// and replacing writer, with writers serialised by a lock file.
#include "platform/profile.h"
#include "platform/error.h"
#include "platform/file.h"
#include "platform/ini.h"
#include "platform/syscalls.h"

#include <cerrno>
#include <new>
#include <string>
#include <string_view>

namespace platform {

namespace {

std::size_t copyOut(const std::u16string& value, char16_t* out, std::size_t capacity) {
    if (!out || capacity == 0)
        return 0;
    const std::size_t n = value.size() < capacity - 1 ? value.size() : capacity - 1;
    value.copy(out, n);
    out[n] = 0;
    return n;
}

std::string_view textOf(const FileContents& file) {
    return file.size() > 0 ? std::string_view(file.data(), static_cast<std::size_t>(file.size()))
                           : std::string_view();
}

// The value of the entry; false when the file cannot be read or has no such entry.
bool lookupValue(const char16_t* file, const char16_t* section, const char16_t* key,
                 std::u16string* value) {
    if (!file || !section || !key)
        return false;
    // One open, regular files only: a FIFO never blocks the reader and a device or a huge file
    // is never read into memory.
    FileContents contents;
    if (contents.load(file, kProfileMaxBytes) != FileResult::Ok)
        return false;
    try {
        return ini::lookup(textOf(contents), section, key, value);
    } catch (const std::bad_alloc&) {
        setLastError(ENOMEM, "profileGetString");
        return false;
    }
}

// Reads, changes and replaces the file; the caller holds the writers' lock.
bool rewrite(const char16_t* file, const char16_t* section, const char16_t* key,
             const char16_t* value) {
    FileContents contents;
    const FileResult read = contents.load(file, kProfileMaxBytes);
    // A missing file starts empty; any other file that cannot be read is left alone, so that
    // a write never replaces what it did not see.
    if (read != FileResult::Ok && !(read == FileResult::OpenFailed && lastError().code == ENOENT)) {
        if (read == FileResult::TooLarge)
            setLastError(EFBIG, "profileWriteString");
        else if (read == FileResult::NotRegular)
            setLastError(EINVAL, "profileWriteString");
        return false;
    }
    std::string updated;
    try {
        updated = ini::update(textOf(contents), section, key, value ? value : u"");
    } catch (const std::bad_alloc&) {
        setLastError(ENOMEM, "profileWriteString");
        return false;
    }
    contents.release();
    if (static_cast<long long>(updated.size()) > kProfileMaxBytes) {
        setLastError(EFBIG, "profileWriteString");  // the next read would see no file at all
        return false;
    }
    return replaceFile(file, updated.data(), updated.size(), nullptr, ReplaceMode::AtomicOnly) ==
           FileResult::Ok;
}

}  // namespace

std::size_t profileGetString(const char16_t* file, const char16_t* section, const char16_t* key,
                             const char16_t* defaultValue, char16_t* out, std::size_t capacity) {
    std::u16string value;
    if (lookupValue(file, section, key, &value))
        return copyOut(value, out, capacity);
    std::u16string def = defaultValue ? defaultValue : u"";
    while (!def.empty() && def.back() == u' ')
        def.pop_back();
    return copyOut(def, out, capacity);
}

bool profileWriteString(const char16_t* file, const char16_t* section, const char16_t* key,
                        const char16_t* value) {
    if (!file || !*file || !section || !key) {
        setLastError(EINVAL, "profileWriteString");
        return false;
    }
    // An entry that would not read back as written (a line break forging a section, say) is
    // refused before the file is touched.
    if (!ini::storable(section, key, value ? value : u"")) {
        setLastError(EINVAL, "profileWriteString");
        return false;
    }
    // Writers take turns on a lock file beside the INI file; readers need no lock because the
    // file is only ever replaced whole.
    const std::u16string lockPath = std::u16string(file) + u".lock";
    const FileHandle lock = fileOpen(lockPath.c_str(), FileAccess::Append);
    if (lock == kNoFile)
        return false;
    // The lock belongs to this open of the lock file, so threads of one process take turns too;
    // closing the file releases it.
    bool locked;
    do {
        locked = sys().lockFirstByte(lock, true, true);
    } while (!locked && isInterrupted(lastError().code));
    if (!locked) {
        fileClose(lock);
        return false;
    }
    const bool ok = rewrite(file, section, key, value);
    const Error e = lastError();
    fileClose(lock);
    setLastError(e.code, e.call);
    return ok;
}

}  // namespace platform
