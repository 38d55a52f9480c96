// The digest text of a whole file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>

#include "log/held_lines.h"
#include "server/md5.h"

namespace zavr {

// Streams the file through MD5 in fixed pieces and sets digestText. A file that cannot be opened or
// read gives false and a level-2 line naming it, in lines. Never throws.
bool FileDigestText(const std::string& path, std::string& digestText, HeldLines& lines);

// Feeds file, from where it stands, into digest in fixed pieces, up to limit bytes or its end. Returns
// the bytes fed; false in ok when a read failed. Never throws but std::bad_alloc.
std::uint64_t FeedDigest(std::FILE* file, Md5Digest& digest, bool& ok,
                         std::uint64_t limit = std::numeric_limits<std::uint64_t>::max());

}  // namespace zavr
