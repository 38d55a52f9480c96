#include "files/file_moves.h"

#include <boost/filesystem.hpp>

#include "platform/file_copy.h"

namespace fs = boost::filesystem;

namespace zavr {

bool PathExists(const std::string& path) {
    return fs::exists(fs::status(fs::path(path)));
}

std::string CopyBeside(const std::string& source, const std::string& target) {
    const std::string temporary = target + ".zavr-partial";
    try {
        CopyFileData(source, temporary);
    } catch (...) {
        RemoveQuietly(temporary);
        throw;
    }
    return temporary;
}

void ReplaceWith(const std::string& from, const std::string& to) {
    try {
        fs::rename(fs::path(from), fs::path(to));
    } catch (...) {
        RemoveQuietly(from);
        throw;
    }
}

void RemoveQuietly(const std::string& path) {
    boost::system::error_code ignored;
    fs::remove(fs::path(path), ignored);
}

}  // namespace zavr
