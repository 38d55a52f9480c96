// The installed version of the run's product, as one number.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zavr {

// The version text with every dot removed, read as a decimal integer: leading white space skipped, one
// optional sign, then digits up to the first other character. No digit gives 0; a number beyond the
// 32-bit range is clamped to its nearer end. Never fails.
std::int32_t VersionFromText(const std::string& text);

// Why text, written as a product's "DisplayVersion", would not be read back as version; nullopt when it
// would. The reason ends a sentence: "is longer than the 449 characters I can read back", or "would read
// back as version N". Never fails.
std::optional<std::string> VersionTextProblem(const std::string& text, std::int32_t version);

// Reads "DisplayVersion" under uninstallKey in HKEY_LOCAL_MACHINE and logs what it found. A key or value
// that cannot be read gives 0 (the registry read has logged why). Never throws.
std::int32_t ReadInstalledVersion(const std::string& uninstallKey);

}  // namespace zavr
