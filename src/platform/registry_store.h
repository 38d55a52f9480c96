// The registry, as the platform offers it: advapi32 on Windows, a JSON file standing in for it on
// POSIX. These report and never log: only catalogue/registry.cpp calls them, and it writes every
// message about registry access.
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

struct RegistryReadResult {
    RegistryReadStatus status = RegistryReadStatus::KeyNotOpened;
    std::string value;    // with Ok: the text up to its first zero byte
    std::string problem;  // a sentence naming the store and what is wrong with it; empty when nothing is
};

// Reads one string value, never more than the bytes the store returned. Never throws.
RegistryReadResult ReadRegistryValue(RegistryRoot root, const std::string& subKey,
                                     const std::string& valueName);

enum class RegistryWriteStatus {
    Written,
    KeyNotOpened,  // the key could be neither opened nor created for writing
    ValueNotSet,   // the key opened, but setting the value failed
};

struct RegistryWriteResult {
    bool keyCreated = false;  // the key was missing, so creating it was tried
    RegistryWriteStatus status = RegistryWriteStatus::KeyNotOpened;
    std::string problem;  // as in RegistryReadResult
};

// Writes one REG_SZ value, creating the sub-key when it is missing. data must hold no zero byte.
// Never throws.
RegistryWriteResult WriteRegistryValue(RegistryRoot root, const std::string& subKey,
                                       const std::string& valueName, const std::string& data);

}  // namespace zavr
