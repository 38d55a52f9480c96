#include "platform/disk_space.h"

#include <limits>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/statvfs.h>
#endif

namespace zavr {

std::uint64_t FreeDiskBytes(const std::string& folder) {
#ifdef _WIN32
    ULARGE_INTEGER available{};
    if (GetDiskFreeSpaceExA(folder.c_str(), &available, nullptr, nullptr)) return available.QuadPart;
#else
    struct statvfs volume {};
    if (::statvfs(folder.c_str(), &volume) == 0)
        return static_cast<std::uint64_t>(volume.f_bavail) * static_cast<std::uint64_t>(volume.f_frsize);
#endif
    return std::numeric_limits<std::uint64_t>::max();
}

std::uint64_t DiskSizeBytes(const std::string& folder) {
#ifdef _WIN32
    ULARGE_INTEGER total{};
    if (GetDiskFreeSpaceExA(folder.c_str(), nullptr, &total, nullptr)) return total.QuadPart;
#else
    struct statvfs volume {};
    if (::statvfs(folder.c_str(), &volume) == 0)
        return static_cast<std::uint64_t>(volume.f_blocks) * static_cast<std::uint64_t>(volume.f_frsize);
#endif
    return std::numeric_limits<std::uint64_t>::max();
}

}  // namespace zavr
