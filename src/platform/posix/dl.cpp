// Dynamic libraries on POSIX: dlopen and friends, module paths from dladdr and /proc/self/exe.
// dlopen keeps one count per object and returns the same handle for every open of it, so each
// successful dlopen here is exactly one reference for dlFree to give back.
#include "platform/dl.h"
#include "platform/error.h"
#include "platform/posix/posix_support.h"
#include "platform/syscalls.h"
#include "platform/utf8.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <link.h>
#include <string>

namespace platform {

namespace {

// dlopen reports its failures as text, not errno; the number kept is errno when the loader set
// one (a missing file: ENOENT) and ENOENT otherwise.
void recordDlError(const char* call) { setLastError(errno != 0 ? errno : ENOENT, call); }

Module* open(const std::string& path, int mode) {
    errno = 0;
    void* h = ::dlopen(path.c_str(), mode);
    if (!h)
        recordDlError("dlopen");
    return static_cast<Module*>(h);
}

const char* baseName(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}

struct NameSearch {
    const char* name;
    std::string path;  // the loaded object's path, when found
};

int matchFileName(struct dl_phdr_info* info, std::size_t, void* data) {
    NameSearch* search = static_cast<NameSearch*>(data);
    if (info->dlpi_name && info->dlpi_name[0] &&
        std::strcmp(baseName(info->dlpi_name), search->name) == 0) {
        search->path = info->dlpi_name;
        return 1;
    }
    return 0;
}

// The file name of a module (null: the executable) through the system-call table, in a buffer
// that grows until the name fits. False on failure, with the error in lastError.
bool moduleFile(Module* module, std::string& name) {
    name.assign(256, '\0');
    for (;;) {
        const long long n = sys().moduleFileName(module, &name[0], name.size());
        if (n < 0)
            return false;
        if (static_cast<std::size_t>(n) < name.size()) {
            name.resize(static_cast<std::size_t>(n));
            return true;
        }
        name.resize(name.size() * 2);
    }
}

}  // namespace

Module* dlLoad(const std::u16string& path) { return dlLoadEx(path, 0); }

Module* dlLoadEx(const std::u16string& path, unsigned int flags) {
    if (path.empty()) {
        setLastError(EINVAL, "dlopen");
        return nullptr;
    }
    const int bind = (flags & kLoadDontResolveReferences) ? RTLD_LAZY : RTLD_NOW;
    return open(toUtf8(path), bind | RTLD_LOCAL);
}

Module* dlFind(const std::u16string& name) {
    if (name.empty()) {
        setLastError(EINVAL, "dlopen");
        return nullptr;
    }
    const std::string n = toUtf8(name);
    if (Module* m = open(n, RTLD_NOW | RTLD_NOLOAD))
        return m;
    // A bare file name of an object that was loaded by its full path.
    if (n.find('/') == std::string::npos) {
        NameSearch search{n.c_str(), std::string()};
        ::dl_iterate_phdr(matchFileName, &search);
        if (!search.path.empty())
            return open(search.path, RTLD_NOW | RTLD_NOLOAD);
    }
    return nullptr;
}

Module* dlAddRef(Module* module) {
    if (!module)
        return nullptr;
    std::string name;
    if (!moduleFile(module, name))
        return nullptr;
    // The executable's entry has no name; dlopen(NULL) is its handle.
    errno = 0;
    void* h = ::dlopen(name.empty() ? nullptr : name.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!h)
        recordDlError("dlopen");
    return static_cast<Module*>(h);
}

void* dlSymbol(Module* module, const char* name) {
    if (!module || !name) {
        setLastError(EINVAL, "dlsym");
        return nullptr;
    }
    ::dlerror();
    void* p = ::dlsym(module, name);
    if (!p)
        setLastError(ENOENT, "dlsym");
    return p;
}

bool dlFree(Module* module) {
    if (!module)
        return false;
    if (::dlclose(module) != 0) {
        recordDlError("dlclose");
        return false;
    }
    return true;
}

std::u16string modulePath(const void* address) {
    Dl_info info;
    struct link_map* map = nullptr;
    if (!address || ::dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0 ||
        !map) {
        setLastError(EINVAL, "dladdr");
        return std::u16string();
    }
    if (!map->l_name || !map->l_name[0])
        return executablePath();
    if (map->l_name[0] == '/')
        return fromUtf8(map->l_name);
    // Loaded by a relative path: resolve it while the working folder is still the same.
    char resolved[PATH_MAX];
    if (::realpath(map->l_name, resolved))
        return fromUtf8(resolved);
    return fromUtf8(map->l_name);
}

std::u16string executablePath() {
    std::string name;
    return moduleFile(nullptr, name) ? fromUtf8(name) : std::u16string();
}

std::u16string dlVersionedFileName(const std::u16string& base, int major) {
    const std::string n = std::to_string(major);
    return u"lib" + base + u".so." + std::u16string(n.begin(), n.end());
}

}  // namespace platform
