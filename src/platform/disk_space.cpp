#include "platform/disk_space.h"

#include <limits>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/statvfs.h>
#endif

namespace zavr {
namespace {

// What an ordinary program may still write there, or the volume's whole size; the largest value when
// the system cannot tell.
std::uint64_t VolumeBytes(const std::string& folder, bool whole) {
#ifdef _WIN32
    ULARGE_INTEGER available{}, total{};
    if (GetDiskFreeSpaceExA(folder.c_str(), &available, &total, nullptr))
        return whole ? total.QuadPart : available.QuadPart;
#else
    struct statvfs volume {};
    if (::statvfs(folder.c_str(), &volume) == 0)
        return static_cast<std::uint64_t>(whole ? volume.f_blocks : volume.f_bavail) *
               static_cast<std::uint64_t>(volume.f_frsize);
#endif
    return std::numeric_limits<std::uint64_t>::max();
}

}  // namespace

std::uint64_t FreeDiskBytes(const std::string& folder) {
    return VolumeBytes(folder, false);
}

std::uint64_t DiskSizeBytes(const std::string& folder) {
    return VolumeBytes(folder, true);
}

}  // namespace zavr
