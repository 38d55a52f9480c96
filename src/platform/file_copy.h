// Copying file contents: what differs between Windows and POSIX.
#pragma once

#include <string>

namespace zavr {

enum class CopyTarget {
    Replace,   // to is created, or truncated when it is there
    CreateNew  // to is created and must not exist yet: nothing that is there is ever overwritten
};

// Copies the contents of from to to, keeping from's permission bits. A link at to is never written
// through. Throws boost::filesystem::filesystem_error, naming both paths, when the copy fails.
// On Windows this is Boost's copy. On POSIX it is a kernel-side copy that, like the Windows one, leaves
// writing to disk to the system: the Boost version at hand flushes every copied file to disk before it
// returns, which made installing thousands of files several times slower.
void CopyFileData(const std::string& from, const std::string& to, CopyTarget target = CopyTarget::Replace);

}  // namespace zavr
