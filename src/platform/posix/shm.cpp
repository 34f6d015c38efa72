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
// it removes the name, so the block is gone as it would be on Windows. Before any of that, an
// object found under the name must belong to this user and be closed to everybody else.
#include "platform/shm.h"
#include "platform/posix/shm_name.h"
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

// The namespace a block name selects and the name within it: "Local\\x" and a name without a
// prefix belong to the user (as session-local names do on Windows), "Global\\x" to the machine.
struct SplitName {
    bool global;
    std::u16string plain;
};

SplitName splitName(const std::u16string& name) {
    const std::u16string global(u"Global\\"), local(u"Local\\");
    if (name.compare(0, global.size(), global) == 0)
        return {true, name.substr(global.size())};
    if (name.compare(0, local.size(), local) == 0)
        return {false, name.substr(local.size())};
    return {false, name};
}

// Whether an object found under a name may be used: only objects of this user (or, in the
// machine-wide namespace, of root) that nobody else may read or write. Anything else was made by
// another user who could read or change what we write, or was opened up since; refused as a
// denied access.
bool trustworthy(const FileStatus& st, bool global) {
    const std::uint32_t me = static_cast<std::uint32_t>(::geteuid());
    const bool ownerOk = st.owner == me || (global && st.owner == 0);
    return ownerOk && (st.mode & 077) == 0;
}

// Attempts to take or create a hold; see the file comment. Bounded, in case names keep being
// removed under the caller (each round needs another process to win a race).
ShmObject* acquire(const std::u16string& name, std::uint32_t size, bool create, bool* existed) {
    const SplitName split = splitName(name);
    if (split.plain.empty() || (create && size == 0)) {
        setLastError(EINVAL, "shm_open");
        return nullptr;
    }
    const std::string sysName = shmSystemName(name);
    // Gives up a descriptor, removing the name when this call created it.
    auto drop = [&sysName](int fd, bool created) {
        if (created)
            ::shm_unlink(sysName.c_str());
        ::close(fd);
    };
    for (int round = 0; round < 1000; ++round) {
        bool created = false;
        int fd = -1;
        if (create) {
            fd = static_cast<int>(sys().openSharedMemory(sysName.c_str(), size));
            if (fd >= 0) {
                created = true;
                if (!sys().resize(fd, static_cast<long long>(size))) {
                    drop(fd, true);
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
        // Owner and mode before the lock: a stranger's object is never waited for. A new object
        // is checked too, as the umask decides what its mode became.
        FileStatus st;
        if (!sys().status(fd, st)) {
            drop(fd, created);
            return nullptr;
        }
        if (!trustworthy(st, split.global)) {
            drop(fd, created);
            setLastError(EACCES, "shm_open");
            return nullptr;
        }
        if (!lockHold(fd, false, true)) {
            drop(fd, created);
            return nullptr;
        }
        if (!sys().status(fd, st)) {
            drop(fd, created);
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

// FNV-1a with 128 bits, as two 64-bit halves (no 128-bit integer type on every compiler): wide
// enough that two long names sharing their start never meet in practice.
void hash128(const std::string& bytes, std::uint64_t& hi, std::uint64_t& lo) {
    hi = 0x6C62272E07BB0142ull;
    lo = 0x62B821756295C58Dull;
    const std::uint64_t k = 0x13B;  // the prime is 2^88 + 0x13B
    for (const char c : bytes) {
        lo ^= static_cast<unsigned char>(c);
        // (hi:lo) * (2^88 + k) mod 2^128; lo * k needs its carry into the high half.
        const std::uint64_t pb = (lo & 0xFFFFFFFFull) * k, pa = (lo >> 32) * k;
        const std::uint64_t newLo = pb + (pa << 32);
        const std::uint64_t carry = (pa >> 32) + (newLo < pb ? 1 : 0);
        hi = hi * k + carry + (lo << 24);
        lo = newLo;
    }
}

}  // namespace

std::string shmSystemName(const std::u16string& name) {
    // "/nxshm.u<uid>." for the user's names, "/nxshm.g." for the machine's: two namespaces that
    // no escaped name can reach from the other.
    const SplitName split = splitName(name);
    const unsigned long user = static_cast<unsigned long>(::geteuid());
    std::string result = split.global ? std::string("/nxshm.g.")
                                      : "/nxshm.u" + std::to_string(user) + ".";
    // '/' is the one byte an object name may not hold; '%' escapes, so the mapping is one to one.
    // '~' is escaped too: it marks a cut long name, which no short name can then spell.
    static const char kHex[] = "0123456789ABCDEF";
    for (const char c : toUtf8(split.plain.c_str())) {
        const unsigned char b = static_cast<unsigned char>(c);
        if (b == '/' || b == '%' || b == '~' || b < 0x20 || b == 0x7F) {
            result += '%';
            result += kHex[b >> 4];
            result += kHex[b & 15];
        } else {
            result += c;
        }
    }
    // A file name holds at most 255 bytes: a long name keeps its start, '~' and a hash of all.
    if (result.size() > 255) {
        std::uint64_t hi = 0, lo = 0;
        hash128(result, hi, lo);
        std::size_t keep = 200;
        while (keep > 2 && (result[keep - 1] == '%' || result[keep - 2] == '%'))
            --keep;
        result.resize(keep);
        result += '~';
        for (const std::uint64_t half : {hi, lo})
            for (int shift = 60; shift >= 0; shift -= 4)
                result += kHex[(half >> shift) & 15];
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
