#include "platform/environment.h"

namespace zavr {

std::string DataFolderBase(std::string& unset) {
    const std::string base = EnvironmentValue("APPDATA");
    if (base.empty()) unset = "APPDATA is not set";
    return base;
}

std::tm LocalTime(std::time_t now) {
    std::tm local{};
    localtime_s(&local, &now);
    return local;
}

}  // namespace zavr
