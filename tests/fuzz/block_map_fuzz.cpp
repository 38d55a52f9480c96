// A block map comes from the server: whatever it holds, reading it either refuses it with a sentence or
// yields a map within its bounds, and searching an older copy with it names only whole blocks of that
// copy.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "files/block_match.h"
#include "server/block_map.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    zavr::BlockMap map;
    try {
        map = zavr::ReadBlockMap(bytes);
    } catch (const std::runtime_error&) {
        return 0;
    }
    const std::uint64_t blocks = (map.fileBytes + map.blockBytes - 1) / map.blockBytes;
    if (map.blocks.size() != blocks || blocks > zavr::kMaxMapBlocks || map.blockBytes < zavr::kMinBlockBytes ||
        map.blockBytes > zavr::kMaxBlockBytes || (map.blockBytes & (map.blockBytes - 1)) != 0)
        std::abort();
    // The input itself stands for the older copy.
    std::FILE* old = std::tmpfile();
    if (old == nullptr) return 0;
    std::fwrite(data, 1, size, old);
    std::rewind(old);
    std::vector<std::int64_t> offsets;
    zavr::MatchBlocks(map, old, size, offsets);
    std::fclose(old);
    if (offsets.size() != map.blocks.size()) std::abort();
    for (std::size_t i = 0; i < offsets.size(); ++i)
        if (offsets[i] >= 0 && std::uint64_t(offsets[i]) + map.BlockLength(i) > size) std::abort();
    return 0;
}
