// Dynamic libraries on Windows: the loader calls themselves, module file names, and a walk of
// the address space for the count of mapped files.
#include "platform/dl.h"
#include "platform/error.h"
#include "platform/syscalls.h"
#include "platform/utf8.h"
#include "platform/win32/win32_support.h"

#include <string>

namespace platform {

namespace {

Module* toModule(HMODULE h) { return reinterpret_cast<Module*>(h); }
HMODULE toHandle(Module* m) { return reinterpret_cast<HMODULE>(m); }

void recordError(const char* call) { setLastError(static_cast<int>(GetLastError()), call); }

// The module's file name through the system-call table, in a buffer that grows until the name
// fits (paths may exceed MAX_PATH).
std::u16string moduleFileName(HMODULE module) {
    std::string name(MAX_PATH, '\0');
    for (;;) {
        const long long n = sys().moduleFileName(toModule(module), &name[0], name.size());
        if (n < 0)
            return std::u16string();
        if (static_cast<std::size_t>(n) < name.size()) {
            name.resize(static_cast<std::size_t>(n));
            return fromUtf8(name);
        }
        name.resize(name.size() * 2);
    }
}

}  // namespace

Module* dlLoad(const std::u16string& path) {
    HMODULE h = LoadLibraryW(win32::wide(path.c_str()));
    if (!h)
        recordError("LoadLibraryW");
    return toModule(h);
}

Module* dlLoadEx(const std::u16string& path, unsigned int flags) {
    HMODULE h = LoadLibraryExW(win32::wide(path.c_str()), nullptr, flags);
    if (!h)
        recordError("LoadLibraryExW");
    return toModule(h);
}

Module* dlFind(const std::u16string& name) {
    HMODULE h = nullptr;
    if (!GetModuleHandleExW(0, win32::wide(name.c_str()), &h)) {
        recordError("GetModuleHandleExW");
        return nullptr;
    }
    return toModule(h);
}

Module* dlAddRef(Module* module) {
    if (!module)
        return nullptr;
    HMODULE h = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(module), &h)) {
        recordError("GetModuleHandleExW");
        return nullptr;
    }
    return toModule(h);
}

void* dlSymbol(Module* module, const char* name) {
    FARPROC p = GetProcAddress(toHandle(module), name);
    if (!p)
        recordError("GetProcAddress");
    return reinterpret_cast<void*>(p);
}

bool dlFree(Module* module) {
    if (!FreeLibrary(toHandle(module))) {
        recordError("FreeLibrary");
        return false;
    }
    return true;
}

std::u16string modulePath(const void* address) {
    if (!address) {
        // GetModuleHandleExW would take a null address as "the executable".
        setLastError(ERROR_INVALID_PARAMETER, "GetModuleHandleExW");
        return std::u16string();
    }
    HMODULE h = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCWSTR>(address), &h)) {
        recordError("GetModuleHandleExW");
        return std::u16string();
    }
    return moduleFileName(h);
}

std::u16string executablePath() { return moduleFileName(nullptr); }

std::u16string dlVersionedFileName(const std::u16string& base, int major) {
    const std::string n = std::to_string(major);
    return base + u"-" + std::u16string(n.begin(), n.end()) + u".dll";
}

}  // namespace platform
