// The digest text of a whole file.
#pragma once

#include <string>

#include "log/held_lines.h"

namespace zavr {

// Streams the file through MD5 in fixed pieces and sets digestText. A file that cannot be opened or
// read gives false and a level-2 line naming it, in lines. Never throws.
bool FileDigestText(const std::string& path, std::string& digestText, HeldLines& lines);

}  // namespace zavr
