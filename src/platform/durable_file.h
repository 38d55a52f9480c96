// Writing that survives a crash or a power cut: a whole file replaced at once, and a volume flushed.
#pragma once

#include <boost/system/error_code.hpp>
#include <string>

namespace zavr {

// Writes text to a temporary file beside path, flushes it to the disk and renames it over path (which
// need not exist), so that readers, and the disk after a power cut, see the old file or the new one
// whole. The temporary file is made anew (whatever stood at its name is removed itself, never written
// through). Returns the system's error when any step fails, the temporary file then removed; an empty
// one on success. Never throws. The new file gets the permission bits mode (POSIX).
boost::system::error_code ReplaceFileDurably(const std::string& path, const std::string& text,
                                             unsigned mode = 0644);

// Makes sure that everything written so far on the volume that holds folder has reached the disk.
// False when the system reports that it could not. On Windows this needs the administrator rights that
// the program asks for; where the volume cannot be opened or flushed that way (no rights, or a system
// that does not offer it), nothing is flushed and it returns true, false only for a failed write.
// Never throws.
bool FlushVolume(const std::string& folder);

}  // namespace zavr
