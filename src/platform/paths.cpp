#include "platform/paths.h"

#include <algorithm>

namespace zavr {

std::string LocalRelativePath(std::string serverPath) {
    std::replace(serverPath.begin(), serverPath.end(), '\\', kPathSeparator);
    return serverPath;
}

std::string AsciiLowerCase(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::string NameKey(std::string name) {
#ifdef _WIN32
    return AsciiLowerCase(std::move(name));
#else
    return name;
#endif
}

}  // namespace zavr
