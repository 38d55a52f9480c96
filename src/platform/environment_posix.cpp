#include "platform/environment.h"

namespace zavr {

std::string DataFolderBase(std::string& unset) {
    std::string base = EnvironmentValue("APPDATA");
    if (base.empty()) base = EnvironmentValue("XDG_DATA_HOME");
    if (base.empty() && !EnvironmentValue("HOME").empty()) base = EnvironmentValue("HOME") + "/.local/share";
    if (base.empty()) unset = "none of APPDATA, XDG_DATA_HOME and HOME is set";
    return base;
}

std::tm LocalTime(std::time_t now) {
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

}  // namespace zavr
