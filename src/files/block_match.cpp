#include "files/block_match.h"

#include <sodium.h>

#include <algorithm>
#include <cstring>

#include "platform/own_file.h"

namespace zavr {
namespace {

// A quick first test of a weak sum, before the sorted table is searched.
std::uint32_t Tag(std::uint32_t weak) {
    return (weak ^ (weak >> 16)) & 0xffff;
}

// The old copy read in large pieces, of which a window of one block is looked at.
class Window {
  public:
    Window(std::FILE* file, std::uint64_t fileBytes, std::uint32_t blockBytes)
        : file_(file),
          fileBytes_(fileBytes),
          buffer_(static_cast<std::size_t>(std::min<std::uint64_t>(
              std::uint64_t{2} * blockBytes + (std::uint64_t{4} << 20), fileBytes))) {}

    // Makes bytes [at, at + n) of the file readable through Data. False when a read failed or the file
    // ends before.
    bool Hold(std::uint64_t at, std::size_t n) {
        const std::uint64_t end = start_ + filled_;  // where the file stands
        if (at >= start_ && at + n <= end) return true;
        const std::size_t keep = at >= start_ && at < end ? static_cast<std::size_t>(end - at) : 0;
        if (keep > 0) std::memmove(buffer_.data(), buffer_.data() + (at - start_), keep);
        if (keep == 0 && at != end && !SeekFile(file_, at)) return false;
        start_ = at;
        filled_ = keep;
        const std::size_t want = static_cast<std::size_t>(
            std::min<std::uint64_t>(buffer_.size() - filled_, fileBytes_ - (start_ + filled_)));
        filled_ += std::fread(buffer_.data() + filled_, 1, want, file_);
        return at + n <= start_ + filled_;
    }
    const unsigned char* Data(std::uint64_t at) const { return buffer_.data() + (at - start_); }

  private:
    std::FILE* file_;
    std::uint64_t fileBytes_;
    std::vector<unsigned char> buffer_;
    std::uint64_t start_ = 0;
    std::size_t filled_ = 0;
};

struct Candidate {
    std::uint32_t weak;
    std::size_t block;
    bool operator<(const Candidate& other) const { return weak < other.weak; }
};

class Matcher {
  public:
    Matcher(const BlockMap& map, std::vector<std::int64_t>& offsets)
        : map_(map), offsets_(offsets), tags_(65536) {
        // Only whole blocks slide; a short last block is looked for where the old copy ends.
        for (std::size_t i = 0; i < map.blocks.size(); ++i) {
            if (map.BlockLength(i) != map.blockBytes) continue;
            candidates_.push_back({map.blocks[i].weak, i});
            tags_[Tag(map.blocks[i].weak)] = 1;
        }
        std::stable_sort(candidates_.begin(), candidates_.end());
    }

    // Marks every block not yet found whose sums are those of data; true when there is one such block
    // at all (found now or before).
    bool Take(std::uint32_t weak, const unsigned char* data, std::uint64_t at) {
        if (tags_[Tag(weak)] == 0) return false;
        auto it = std::lower_bound(candidates_.begin(), candidates_.end(), Candidate{weak, 0});
        bool summed = false, found = false;
        unsigned char strong[16];
        for (; it != candidates_.end() && it->weak == weak; ++it) {
            if (!summed) StrongSum(data, map_.blockBytes, strong);
            summed = true;
            if (std::memcmp(strong, map_.blocks[it->block].strong, sizeof strong) != 0) continue;
            found = true;
            if (offsets_[it->block] < 0) offsets_[it->block] = static_cast<std::int64_t>(at);
        }
        return found;
    }

  private:
    const BlockMap& map_;
    std::vector<std::int64_t>& offsets_;
    std::vector<unsigned char> tags_;
    std::vector<Candidate> candidates_;
};

}  // namespace

bool MatchBlocks(const BlockMap& map, std::FILE* old, std::uint64_t oldBytes,
                 std::vector<std::int64_t>& offsets) {
    if (sodium_init() < 0) return false;  // it also picks the fastest BLAKE2b for this processor
    offsets.assign(map.blocks.size(), -1);
    const std::uint32_t n = map.blockBytes;
    Window window(old, oldBytes, n);
    Matcher matcher(map, offsets);
    std::uint64_t at = 0;
    std::uint32_t a = 0, b = 0;
    bool fresh = true;  // the sums are to be taken anew at `at`, after a block was found
    while (at + n <= oldBytes) {
        const bool next = at + n < oldBytes;
        if (!window.Hold(at, n + (next ? 1 : 0))) return false;
        const unsigned char* data = window.Data(at);
        if (fresh) {
            const std::uint32_t weak = WeakSum(data, n);
            a = weak & 0xffff;
            b = weak >> 16;
            fresh = false;
        }
        if (matcher.Take((a & 0xffff) | (b << 16), data, at)) {
            at += n;
            fresh = true;
            continue;
        }
        if (!next) break;
        // Slid one byte on: the first byte leaves, the one after the window enters.
        a += data[n] - data[0];
        b += a - n * data[0];
        ++at;
    }
    // The short last block, where a file that kept its end has it.
    const std::size_t last = map.blocks.size() - 1;
    const std::uint32_t tail = map.blocks.empty() ? 0 : map.BlockLength(last);
    if (tail == 0 || tail == n || tail > oldBytes) return true;
    if (!window.Hold(oldBytes - tail, tail)) return false;
    unsigned char strong[16];
    StrongSum(window.Data(oldBytes - tail), tail, strong);
    if (std::memcmp(strong, map.blocks[last].strong, sizeof strong) == 0)
        offsets[last] = static_cast<std::int64_t>(oldBytes - tail);
    return true;
}

}  // namespace zavr
