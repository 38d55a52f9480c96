// The installed version of the run's product, as one number.
#pragma once

#include <cstdint>
#include <string>

namespace zavr {

// The version text with every dot removed, read as a decimal integer: leading white space skipped, one
// optional sign, then digits up to the first other character. No digit gives 0; a number beyond the
// 32-bit range is clamped to its nearer end. Never fails.
std::int32_t VersionFromText(const std::string& text);

}  // namespace zavr
