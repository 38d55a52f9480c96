#include "platform/paths.h"

#include <algorithm>

namespace zavr {

std::string LocalRelativePath(std::string serverPath) {
    std::replace(serverPath.begin(), serverPath.end(), '\\', kPathSeparator);
    return serverPath;
}

std::string NameKey(std::string name) {
#ifdef _WIN32
    for (char& c : name)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
#endif
    return name;
}

}  // namespace zavr
