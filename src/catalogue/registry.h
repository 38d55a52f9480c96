// The system's only access to the registry: one string value read, one written. Neither throws nor
// hands back a status; every outcome is logged.
#pragma once

#include <string>

#include "platform/registry_store.h"

namespace zavr {

// The value's text with one separator appended (unless empty or already ending in one), or the empty
// string when the key cannot be opened ("Failed to open registry key!") or the value is missing, not a
// string or longer than 449 characters ("Registry key was located but could not be read!").
std::string ReadRegistryString(RegistryRoot root, const std::string& subKey, const std::string& valueName);

// Writes data, up to its first zero byte, as a REG_SZ value; creates the key when it is missing
// ("Creating registry key: ..."). A failure is logged at level 2; true when the value was written.
bool WriteRegistryString(RegistryRoot root, const std::string& subKey, const std::string& valueName,
                         const std::string& data);

}  // namespace zavr
