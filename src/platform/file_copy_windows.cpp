#include <boost/filesystem.hpp>

#include "platform/file_copy.h"

namespace fs = boost::filesystem;

namespace zavr {

void CopyFileData(const std::string& from, const std::string& to, CopyTarget target) {
    boost::system::error_code error;
    if (target == CopyTarget::Replace && fs::is_symlink(fs::symlink_status(fs::path(to), error)))
        throw fs::filesystem_error(
            "I was unable to copy the file", fs::path(from), fs::path(to),
            boost::system::errc::make_error_code(boost::system::errc::too_many_symbolic_link_levels));
    fs::copy_file(
        fs::path(from), fs::path(to),
        target == CopyTarget::Replace ? fs::copy_options::overwrite_existing : fs::copy_options::none);
}

}  // namespace zavr
