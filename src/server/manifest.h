// The update manifest: what the update from one installed version of one product consists of.
#pragma once

#include <cstdint>
#include <string>

namespace zavr {

// base + "?product=" + productId + "&version=" + installedVersion, from a stored (scrambled) base,
// which is in plain form only while the address is built. Never fails.
std::string ManifestQueryUrl(char* storedBase, std::int32_t productId, std::int32_t installedVersion);

}  // namespace zavr
