// Interop: named shared memory between processes and an owner for one dynamic library.
//
// CShareData exchanges a block of bytes with another process: one side creates the block under
// a name and a size, the other opens it by that name, and both copy bytes in and out of it. The
// block has no header: byte 0 is byte 0 of the callers' data. It lives while any process holds
// it (on Linux too; docs/interop.md says how) and has no lock of its own.
//
// CDLLHelper holds one library: loads it by path or adopts one already loaded, looks up its
// exports, and frees it when it is reloaded, freed or destroyed.
#ifndef NXUTIL_INTEROP_H
#define NXUTIL_INTEROP_H

#include "nxutil_export.h"
#include "nxutil_types.h"

#include <string>

/// A named shared-memory block seen from this process.
///
/// Copies are shallow: a copy designates the same mapping and view, and only one of the two may
/// close them (on Linux a second close of the same hold is ignored).
class NXUTIL_API CShareData {
public:
    /// Closed: no mapping, no view, size 0.
    CShareData();
    CShareData(const CShareData&) = default;
    CShareData& operator=(const CShareData&) = default;
    /// closeSharedFile().
    ~CShareData();

    /// Creates the block `name` of `size` bytes, zero-filled, and maps all of it. When a block
    /// of that name exists already, it is opened instead and this succeeds all the same. False
    /// when the object already holds a block (nothing changes), for an empty name, or when the
    /// system refuses. A view that cannot be mapped (an existing block smaller than `size`) is
    /// logged at error level ("CShareData::createSharedFile MapViewOfFile() fail. fileName=..,
    /// size=.., err=..") and gives false; the mapping stays held until closeSharedFile().
    bool createSharedFile(const std::u16string& name, unsigned int size);

    /// Opens the existing block `name` and maps its first `size` bytes. True at once when the
    /// object already holds a block. False for an empty name, a name nobody holds, or a view
    /// that cannot be mapped (`size` larger than the block; the mapping then stays held).
    bool openSharedFile(const std::u16string& name, unsigned int size);

    /// Unmaps the view and closes the mapping; nothing when no block is held.
    void closeSharedFile();

    /// Copies the first `length` bytes of the block to `buffer` and returns `length`; 0, with
    /// nothing copied, without a view or when `length` exceeds the size.
    unsigned int getSharedData(unsigned char* buffer, unsigned int length);

    /// The view for direct access, or null.
    unsigned char* getSharedData();

    /// Copies `length` bytes from `data` to the start of the block; results as getSharedData.
    unsigned int writeData(const unsigned char* data, unsigned int length);

private:
    HANDLE m_hMapFile;
    unsigned char* m_pData;
    unsigned int m_nSize;
};

/// An untyped exported function, to be cast to its real type.
typedef void (*NxProcAddress)();

/// The owner of one dynamic-library handle.
///
/// Every handle held carries one reference of its own: a load's, the one FindDll takes when it
/// adopts a module, or the one a copy takes. FreeDll and the destructor give it back, so any
/// mix of loads, adoptions and copies keeps the module's count balanced.
class NXUTIL_API CDLLHelper {
public:
    /// Empty.
    CDLLHelper();
    /// The same handle, with a reference of the copy's own.
    CDLLHelper(const CDLLHelper& other);
    /// Frees what this object holds, then holds `other`'s handle with a reference of its own.
    CDLLHelper& operator=(const CDLLHelper& other);
    /// FreeDll().
    ~CDLLHelper();

    /// Frees the held library, then loads `path`. True when it loaded; a failed load leaves the
    /// object empty. A name without a folder is searched for the platform's way.
    bool LoadDll(const std::u16string& path);

    /// As LoadDll with loader flags (LoadLibraryExW's; Linux honours 0x1, resolve lazily, and
    /// ignores the rest, e.g. 0x8, altered search path).
    bool LoadDllEx(const std::u16string& path, unsigned int flags);

    /// True at once, keeping the held library, when one is held. Otherwise adopts the module of
    /// that name already loaded in the process (never loads): "libm.so.6", a full path, or on
    /// Windows "kernel32.dll". False when no such module is loaded.
    bool FindDll(const std::u16string& name);

    /// Frees the held library and empties the object; nothing when empty.
    void FreeDll();

    /// Whether a library is held.
    bool IsValidDll() const;

    /// The export `name` of the held library; null when empty or when there is no such export.
    NxProcAddress GetProcAddress(const char* name) const;

    /// The held handle (null when empty).
    HMODULE get_DllHandle() const;
    operator HMODULE() const;

    /// The held handle as a number (its low 32 bits on a 64-bit system).
    unsigned int get_DllInt() const;

private:
    HMODULE m_hDll;
};

#endif
