// Named shared memory on POSIX: shm_open objects whose lifetime follows Windows file mappings.
//
// A holder is a descriptor of the object with a read lock on byte 0 of its own open file
// description (F_OFD_SETLK). Such a lock belongs to the description, not to the process, so two
// holders inside one process are counted separately, and the kernel releases it when the last
// descriptor goes, which includes the death of the process. Only a process that can turn its
// read lock into a write lock (an atomic conversion that fails while anybody else holds a lock)
// knows it is the last holder and removes the name.
//
// Opening: take a descriptor by name, then the read lock (waiting only while a closing holder
// removes the name), then check that the object still has its name (st_nlink). An object that
// lost its name is skipped and the lookup repeats. An opener that finds itself the only holder
// of an object it did not create has met the remains of processes that ended without closing:
// it removes the name, so the block is gone as it would be on Windows.
#include "platform/shm.h"
#include "platform/error.h"
#include "platform/posix/posix_support.h"
#include "platform/syscalls.h"
#include "platform/utf8.h"

#include <fcntl.h>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

namespace platform {

struct ShmObject {
    int fd;
    std::string systemName;
};

namespace {

// Live objects and views, so that a second close of a copied handle or view is harmless and so
// that an unmap knows its length. Never destroyed: holders may close during static destruction.
struct Registry {
    std::mutex lock;
    std::unordered_set<ShmObject*> objects;
    std::unordered_map<void*, std::size_t> views;
};

Registry& registry() {
    static Registry* r = new Registry;
    return *r;
}

// Locks byte 0 of the descriptor's open file description, shared or exclusive.
bool lockHold(int fd, bool exclusive, bool wait) {
    for (;;) {
        if (sys().lockFirstByte(fd, exclusive, wait))
            return true;
        if (errno != EINTR || !wait)
            return false;
    }
}

// Attempts to take or create a hold; see the file comment. Bounded, in case names keep being
// removed under the caller (each round needs another process to win a race).
ShmObject* acquire(const std::u16string& name, std::uint32_t size, bool create, bool* existed) {
    const std::string sysName = shmSystemName(name);
    if (name.empty() || (create && size == 0)) {
        setLastError(EINVAL, "shm_open");
        return nullptr;
    }
    for (int round = 0; round < 1000; ++round) {
        bool created = false;
        int fd = -1;
        if (create) {
            fd = static_cast<int>(sys().openSharedMemory(sysName.c_str(), size));
            if (fd >= 0) {
                created = true;
                if (!sys().resize(fd, static_cast<long long>(size))) {
                    ::shm_unlink(sysName.c_str());
                    ::close(fd);
                    return nullptr;
                }
            } else if (errno != EEXIST) {
                return nullptr;
            }
        }
        if (fd < 0) {
            fd = static_cast<int>(sys().openSharedMemory(sysName.c_str(), 0));
            if (fd < 0) {
                if (errno == ENOENT && create)
                    continue;  // removed since our O_EXCL attempt: create it afresh
                return nullptr;
            }
        }
        if (!lockHold(fd, false, true)) {
            if (created)
                ::shm_unlink(sysName.c_str());
            ::close(fd);
            return nullptr;
        }
        FileStatus st;
        if (!sys().status(fd, st)) {
            if (created)
                ::shm_unlink(sysName.c_str());
            ::close(fd);
            return nullptr;
        }
        if (st.links == 0) {
            ::close(fd);  // its last holder removed it between our lookup and our lock
            continue;
        }
        if (!created && lockHold(fd, true, false)) {
            // Nobody else holds it: what is left of holders that ended without closing.
            ::shm_unlink(sysName.c_str());
            ::close(fd);
            continue;
        }
        if (existed)
            *existed = !created;
        ShmObject* object = new ShmObject{fd, sysName};
        Registry& r = registry();
        std::lock_guard<std::mutex> guard(r.lock);
        r.objects.insert(object);
        return object;
    }
    setLastError(EAGAIN, "shm_open");
    return nullptr;
}

}  // namespace

std::string shmSystemName(const std::u16string& name) {
    // One namespace per machine: the Windows session prefixes select nothing here.
    std::u16string plain = name;
    for (const char16_t* prefix : {u"Global\\", u"Local\\"}) {
        const std::u16string p(prefix);
        if (plain.compare(0, p.size(), p) == 0) {
            plain.erase(0, p.size());
            break;
        }
    }
    // '/' is the one byte an object name may not hold; '%' escapes, so the mapping is one to one.
    static const char kHex[] = "0123456789ABCDEF";
    std::string escaped;
    for (const char c : toUtf8(plain.c_str())) {
        const unsigned char b = static_cast<unsigned char>(c);
        if (b == '/' || b == '%' || b < 0x20 || b == 0x7F) {
            escaped += '%';
            escaped += kHex[b >> 4];
            escaped += kHex[b & 15];
        } else {
            escaped += c;
        }
    }
    std::string result = "/nxshm." + escaped;
    // A file name holds at most 255 bytes: a long name keeps its start and gains a hash of all.
    if (result.size() > 255) {
        std::uint64_t hash = 14695981039346656037ull;  // FNV-1a, 64 bits
        for (const char c : escaped) {
            hash ^= static_cast<unsigned char>(c);
            hash *= 1099511628211ull;
        }
        std::size_t keep = 200;
        while (keep > 2 && (result[keep - 1] == '%' || result[keep - 2] == '%'))
            --keep;
        result.resize(keep);
        result += '~';
        for (int shift = 60; shift >= 0; shift -= 4)
            result += kHex[(hash >> shift) & 15];
    }
    return result;
}

ShmObject* shmCreate(const std::u16string& name, std::uint32_t size, bool* existed) {
    return acquire(name, size, true, existed);
}

ShmObject* shmOpen(const std::u16string& name) { return acquire(name, 0, false, nullptr); }

void* shmMap(ShmObject* object, std::uint32_t size) {
    if (!object) {
        setLastError(EINVAL, "mmap");
        return nullptr;
    }
    FileStatus st;
    if (!sys().status(object->fd, st))
        return nullptr;
    std::size_t length = size;
    if (length == 0)
        length = static_cast<std::size_t>(st.size);
    // Pages past the object's end would fault on access; refuse the view as Windows does.
    if (length == 0 || static_cast<std::uint64_t>(st.size) < length) {
        setLastError(EINVAL, "mmap");
        return nullptr;
    }
    void* view = sys().mapShared(object->fd, length);
    if (!view)
        return nullptr;
    Registry& r = registry();
    std::lock_guard<std::mutex> guard(r.lock);
    r.views[view] = length;
    return view;
}

void shmUnmap(void* view) {
    if (!view)
        return;
    Registry& r = registry();
    std::size_t length = 0;
    {
        std::lock_guard<std::mutex> guard(r.lock);
        auto it = r.views.find(view);
        if (it == r.views.end())
            return;
        length = it->second;
        r.views.erase(it);
    }
    ::munmap(view, length);
}

void shmClose(ShmObject* object) {
    if (!object)
        return;
    Registry& r = registry();
    {
        std::lock_guard<std::mutex> guard(r.lock);
        if (r.objects.erase(object) == 0)
            return;
    }
    if (lockHold(object->fd, true, false))
        ::shm_unlink(object->systemName.c_str());  // the last holder
    ::close(object->fd);
    delete object;
}

}  // namespace platform
