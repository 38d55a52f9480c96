#include <sys/statvfs.h>

#include "platform/disk_space.h"

namespace zavr {

std::uint64_t FreeDiskBytes(const std::string& folder) {
    struct statvfs volume {};
    if (::statvfs(folder.c_str(), &volume) != 0) return UINT64_MAX;  // nothing refused for want of an answer
    return static_cast<std::uint64_t>(volume.f_bavail) * static_cast<std::uint64_t>(volume.f_frsize);
}

std::uint64_t DiskSizeBytes(const std::string& folder) {
    struct statvfs volume {};
    if (::statvfs(folder.c_str(), &volume) != 0) return UINT64_MAX;
    return static_cast<std::uint64_t>(volume.f_blocks) * static_cast<std::uint64_t>(volume.f_frsize);
}

}  // namespace zavr
