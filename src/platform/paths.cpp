#include "platform/paths.h"

#include <algorithm>

namespace zavr {

std::string LocalRelativePath(std::string serverPath) {
    std::replace(serverPath.begin(), serverPath.end(), '\\', kPathSeparator);
    return serverPath;
}

}  // namespace zavr
