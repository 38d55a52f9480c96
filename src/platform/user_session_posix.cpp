#include <unistd.h>

#include <cerrno>
#include <limits>

#include "platform/user_session.h"

namespace zavr {

void HoldOwnConsoleWindow() {}

boost::system::error_code ReplaceableProblem(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    if (::access(folder.c_str(), W_OK) == 0) return boost::system::error_code();
    return boost::system::error_code(errno, boost::system::system_category());
}

bool IsHeldByAnotherProgram(const boost::system::error_code&) {
    return false;  // a file open elsewhere is still replaced by a rename
}

std::size_t LongestPath(bool) {
    return std::numeric_limits<std::size_t>::max();
}

}  // namespace zavr
