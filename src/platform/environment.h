// Reading the process environment, the same way everywhere.
#pragma once

#include <cstdlib>
#include <string>

namespace zavr {

// The variable's value; the empty string when it is unset. Never fails.
inline std::string EnvironmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

}  // namespace zavr
