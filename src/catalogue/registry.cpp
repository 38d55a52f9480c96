#include "catalogue/registry.h"

#include "log/log.h"
#include "platform/paths.h"

namespace zavr {

std::string ReadRegistryString(RegistryRoot root, const std::string& subKey, const std::string& valueName) {
    WriteLog(0, "Reading " + subKey + " | " + valueName);
    RegistryReadResult read = ReadRegistryValue(root, subKey, valueName);
    if (!read.problem.empty()) WriteLog(2, read.problem);
    switch (read.status) {
        case RegistryReadStatus::KeyNotOpened:
            WriteLog(2, "Failed to open registry key!");
            return std::string();
        case RegistryReadStatus::ValueNotRead:
            WriteLog(2, "Registry key was located but could not be read!");
            return std::string();
        case RegistryReadStatus::Ok:
            break;
    }
    std::string result = std::move(read.value);
    WriteLog(0, "Registry key " + subKey + ":" + valueName + " located and read, value is " + result);
    if (!result.empty() && result.back() != kPathSeparator) result += kPathSeparator;
    return result;
}

bool WriteRegistryString(RegistryRoot root, const std::string& subKey, const std::string& valueName,
                         const std::string& data) {
    const std::string text = data.substr(0, data.find('\0'));
    const RegistryWriteResult result = WriteRegistryValue(root, subKey, valueName, text);
    if (result.keyCreated) WriteLog(1, "Creating registry key: " + subKey);
    if (!result.problem.empty()) WriteLog(2, result.problem);
    switch (result.status) {
        case RegistryWriteStatus::KeyNotOpened:
            WriteLog(2, "Failed to open registry key for writing!");
            break;
        case RegistryWriteStatus::ValueNotSet:
            WriteLog(2, "Registry key write failed: " + subKey + ", " + valueName + ", " + text);
            break;
        case RegistryWriteStatus::Written:
            WriteLog(0, "Registry key successfully written.");
            return true;
    }
    return false;
}

}  // namespace zavr
