// Dynamic libraries: loading, symbol lookup and unloading, and the file paths of loaded modules.
//
// Win32: LoadLibraryW, LoadLibraryExW, GetModuleHandleExW, GetProcAddress, FreeLibrary,
// GetModuleFileNameW. POSIX: dlopen (RTLD_NOW | RTLD_LOCAL, as a Windows load resolves every
// import at once), dlsym, dlclose, dladdr and /proc/self/exe.
//
// Every module handle returned here carries one reference of its own, whichever call produced
// it (a load, a lookup of a loaded module, another reference), and dlFree gives exactly that
// one back: an owner frees what it obtained and the counts stay balanced.
#ifndef NXUTIL_PLATFORM_DL_H
#define NXUTIL_PLATFORM_DL_H

#include <cstddef>
#include <string>

namespace platform {

/// A loaded module: an HMODULE on Windows, a dlopen handle on POSIX.
struct Module;

/// LoadLibraryExW flags with a POSIX meaning: resolve imports lazily (RTLD_LAZY).
constexpr unsigned int kLoadDontResolveReferences = 0x1;
/// LOAD_WITH_ALTERED_SEARCH_PATH: a library's own dependencies are looked up in its folder
/// first. POSIX has no such switch (a library finds its dependencies through its RUNPATH).
constexpr unsigned int kLoadWithAlteredSearchPath = 0x8;

/// Loads the library file at `path` (a name without a folder is searched for the platform's
/// way) and returns it with a reference, or null (the error in lastError()).
Module* dlLoad(const std::u16string& path);

/// As dlLoad with LoadLibraryExW flags. Win32 passes them through; POSIX honours
/// kLoadDontResolveReferences and ignores the others.
Module* dlLoadEx(const std::u16string& path, unsigned int flags);

/// The module already loaded in this process under `name`, with a reference taken; never
/// loads anything. `name` is a path or a file name: Win32 matches as GetModuleHandleExW does;
/// POSIX matches the path or soname as dlopen(RTLD_NOLOAD) does, then the file name of every
/// loaded object ("libm.so.6", "nxfixture_a.so"). Null when no such module is loaded.
Module* dlFind(const std::u16string& name);

/// Another reference to `module` (the same handle), for a second owner; null for null.
Module* dlAddRef(Module* module);

/// The address of the export `name`, or null when the module has none.
void* dlSymbol(Module* module, const char* name);

/// Gives back one reference; the module is unloaded with its last one. False on failure.
bool dlFree(Module* module);

/// The full path of the module (executable or library) whose image holds `address`; empty
/// when no module holds it. `modulePath(&someFunction)` names the file that defines it.
std::u16string modulePath(const void* address);

/// The full path of the running executable (/proc/self/exe, GetModuleFileNameW(NULL)).
std::u16string executablePath();

/// The platform's file name of major version `major` of the library `base`, as its build
/// system names it: ("swscale", 6) => "libswscale.so.6" on Linux, "swscale-6.dll" on Windows.
std::u16string dlVersionedFileName(const std::u16string& base, int major);

}  // namespace platform

#endif
