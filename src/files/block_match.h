// Finding, in an older copy of a file, the blocks that a block map (server/block_map.h) says the new
// file is made of, wherever they now lie: a weak sum slides over the copy a byte at a time, and the
// strong sum confirms what it finds.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "server/block_map.h"

namespace zavr {

// Where each block of map lies in old, an open file of oldBytes read from its start: an offset in
// old, or -1 when old does not hold it. old is only read. False when a read failed; what was found
// until then is in offsets. Never throws but std::bad_alloc.
bool MatchBlocks(const BlockMap& map, std::FILE* old, std::uint64_t oldBytes,
                 std::vector<std::int64_t>& offsets);

}  // namespace zavr
