// How much room is left on a volume.
#pragma once

#include <cstdint>
#include <string>

namespace zavr {

// The bytes that an ordinary program may still write on the volume that holds folder; the largest value
// when the system cannot tell (so that nothing is refused for want of an answer). Never throws.
std::uint64_t FreeDiskBytes(const std::string& folder);

// The size of the volume that holds folder; the largest value when the system cannot tell. Never throws.
std::uint64_t DiskSizeBytes(const std::string& folder);

}  // namespace zavr
