// Named shared memory: a block of bytes under a name that several processes map at once.
//
// The lifetime is the one of Windows file mappings on every platform: the block lives while any
// process holds it, creating a name that exists opens that block, and the block is gone once the
// last holder has closed it or ended, however it ended.
//
// Win32: CreateFileMappingW on the paging file, OpenFileMappingW, MapViewOfFile with all access,
// UnmapViewOfFile, CloseHandle; names are passed to the system unchanged.
// POSIX: shm_open + mmap. Every holder keeps a read lock on its own open file description, and
// the kernel drops that lock with the descriptors of a process that dies; the last holder (or
// the next process to meet a name that nobody holds any more) removes the name. The name
// mapping and the protocol are described in docs/interop.md.
#ifndef NXUTIL_PLATFORM_SHM_H
#define NXUTIL_PLATFORM_SHM_H

#include <cstdint>
#include <string>

namespace platform {

/// A process's hold on a named block: a HANDLE of a file mapping on Windows, a descriptor with
/// its lock on POSIX.
struct ShmObject;

/// Creates the block `name` of `size` bytes, zero-filled, or opens the block when the name
/// exists already (it then keeps the size it was created with; `*existed` says which, when
/// given). Null on failure, with the error in lastError(): POSIX refuses an empty name, a bare
/// "Local\\" or "Global\\" and a size of 0 (EINVAL), and an existing object that another user
/// owns or that group or others may access (EACCES); Win32 reports what CreateFileMappingW
/// reports.
ShmObject* shmCreate(const std::u16string& name, std::uint32_t size, bool* existed = nullptr);

/// Opens the existing block `name`. Null when no process holds a block of that name, and on
/// POSIX for the names and objects shmCreate refuses.
ShmObject* shmOpen(const std::u16string& name);

/// Maps `size` bytes of the block from offset 0 for reading and writing; 0 maps the whole
/// block. Null when the block is smaller than `size`, or on failure.
void* shmMap(ShmObject* object, std::uint32_t size);

/// Unmaps a view that shmMap returned. Null is ignored; on POSIX so is a view already unmapped.
void shmUnmap(void* view);

/// Ends this hold on the block (unmap its views first). Null is ignored; on POSIX so is an
/// object already closed. On POSIX the last holder removes the name.
void shmClose(ShmObject* object);

}  // namespace platform

#endif
