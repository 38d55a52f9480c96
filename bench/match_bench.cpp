// Times the search of an older copy for the blocks of a new file's map, and MD5 over the same copy:
// prints "<search MB/s> <MD5 MB/s> <blocks found> <blocks>".
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

#include "files/block_match.h"
#include "platform/own_file.h"
#include "server/block_map.h"
#include "server/downloader.h"

namespace {

double Since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: zavr-match-bench OLD-FILE NEW-FILE-MAP\n");
        return 2;
    }
    std::ifstream in(argv[2], std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    const zavr::BlockMap map = zavr::ReadBlockMap(text.str());
    const zavr::CFile old = zavr::OpenRegularFile(argv[1]);
    std::uint64_t bytes = 0;
    if (!old || !zavr::OpenFileSize(old.get(), bytes)) return 1;
    std::vector<std::int64_t> offsets;
    auto start = std::chrono::steady_clock::now();
    if (!zavr::MatchBlocks(map, old.get(), bytes, offsets)) return 1;
    const double search = Since(start);
    start = std::chrono::steady_clock::now();
    zavr::Downloader().FileDigestMatches(argv[1], "");
    const double md5 = Since(start);
    std::size_t found = 0;
    for (const std::int64_t offset : offsets) found += offset >= 0 ? 1 : 0;
    std::printf("%.1f %.1f %zu %zu\n", bytes / 1e6 / search, bytes / 1e6 / md5, found, offsets.size());
    return 0;
}
