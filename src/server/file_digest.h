// The digest text of a whole file.
#pragma once

#include <string>

namespace zavr {

// Streams the file through MD5 in fixed pieces and sets digestText. A file that cannot be opened or
// read gives false and a level-2 line naming it. Never throws.
bool FileDigestText(const std::string& path, std::string& digestText);

}  // namespace zavr
