// The registry, as the platform offers it: advapi32 on Windows, a JSON file standing in for it on
// POSIX. Only catalogue/registry.cpp calls these; it owns every message about registry access.
#pragma once

#include <string>

namespace zavr {

enum class RegistryRoot { LocalMachine, CurrentUser };

// Bytes a read takes at the most, terminating zero included: the longest readable value holds 449.
constexpr unsigned kRegistryReadBuffer = 450;

enum class RegistryReadStatus {
    Ok,
    KeyNotOpened,  // the sub-key is missing or cannot be opened
    ValueNotRead,  // the key opened, but the value is missing, not a string, or too long
};

// Reads one string value: its text up to the first zero byte, never more than the bytes the store
// returned. Never throws.
RegistryReadStatus ReadRegistryValue(RegistryRoot root, const std::string& subKey,
                                     const std::string& valueName, std::string& value);

enum class RegistryWriteStatus {
    Written,
    KeyNotOpened,  // the key could be neither opened nor created for writing
    ValueNotSet,   // the key opened, but setting the value failed
};

struct RegistryWriteResult {
    bool keyCreated;  // the key was missing, so creating it was tried
    RegistryWriteStatus status;
};

// Writes one REG_SZ value, creating the sub-key when it is missing. data must hold no zero byte.
// Never throws.
RegistryWriteResult WriteRegistryValue(RegistryRoot root, const std::string& subKey,
                                       const std::string& valueName, const std::string& data);

}  // namespace zavr
