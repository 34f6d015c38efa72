// The shared-memory object name the POSIX backend derives from a block name: "Local\\cap.frame"
// => "/nxshm.u1000.cap.frame" for user 1000, "Global\\cap.frame" => "/nxshm.g.cap.frame" (see
// docs/interop.md). Windows passes block names to the system as they are.
#ifndef NXUTIL_PLATFORM_POSIX_SHM_NAME_H
#define NXUTIL_PLATFORM_POSIX_SHM_NAME_H

#include <string>

namespace platform {

/// The object name of the block `name`: one to one, at most 255 bytes.
std::string shmSystemName(const std::u16string& name);

}  // namespace platform

#endif
