#include <windows.h>

#include "platform/disk_space.h"

namespace zavr {

std::uint64_t FreeDiskBytes(const std::string& folder) {
    ULARGE_INTEGER available{};
    if (GetDiskFreeSpaceExA(folder.c_str(), &available, nullptr, nullptr)) return available.QuadPart;
    return UINT64_MAX;  // nothing is refused for want of an answer
}

std::uint64_t DiskSizeBytes(const std::string& folder) {
    ULARGE_INTEGER total{};
    if (GetDiskFreeSpaceExA(folder.c_str(), nullptr, &total, nullptr)) return total.QuadPart;
    return UINT64_MAX;
}

}  // namespace zavr
