// Reading the process environment: its variables, where the user's data lives, and the local time.
#pragma once

#include <cstdlib>
#include <ctime>
#include <string>

namespace zavr {

// The variable's value; the empty string when it is unset. Never fails.
inline std::string EnvironmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

// The folder under which the program keeps its data: APPDATA; on POSIX, when it is unset,
// XDG_DATA_HOME and then HOME + "/.local/share". Empty when none can be had; unset then says which
// variables are missing, as the end of a sentence ("APPDATA is not set"). Never fails.
std::string DataFolderBase(std::string& unset);

// now as the local calendar time. Never fails.
std::tm LocalTime(std::time_t now);

}  // namespace zavr
