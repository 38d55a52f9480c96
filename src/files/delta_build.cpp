#include "files/delta_build.h"

#include <algorithm>
#include <boost/filesystem.hpp>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <vector>

#include "files/block_match.h"
#include "platform/c_file.h"
#include "platform/disk_space.h"
#include "platform/own_file.h"
#include "platform/paths.h"
#include "server/block_map.h"
#include "server/file_transfer.h"
#include "server/md5.h"
#include "server/progress.h"

namespace zavr {
namespace {

// The most one range request asks for (a block is never larger); a few of them are asked ahead, so this
// bounds the memory held.
constexpr std::uint64_t kRangeBytes = kMaxBlockBytes;

// Consecutive blocks of the new file that the copy at hand lacks, asked for in one request.
struct Range {
    std::size_t firstBlock;
    std::size_t blocks;
    std::uint64_t first;  // byte of the new file
    std::uint64_t bytes;
};

std::vector<Range> MissingRanges(const BlockMap& map, const std::vector<std::int64_t>& offsets) {
    std::vector<Range> ranges;
    for (std::size_t i = 0; i < offsets.size(); ++i) {
        if (offsets[i] >= 0) continue;
        const std::uint64_t length = map.BlockLength(i);
        const bool extends = !ranges.empty() && ranges.back().firstBlock + ranges.back().blocks == i &&
                             ranges.back().bytes + length <= kRangeBytes;
        if (!extends) ranges.push_back({i, 0, map.BlockStart(i), 0});
        ++ranges.back().blocks;
        ranges.back().bytes += length;
    }
    return ranges;
}

std::string Bytes(std::uint64_t bytes) {
    return HumanBytes(static_cast<double>(bytes));
}

TextQuery RangeQuery(const DeltaJob& job, const Range& range) {
    return {job.address, std::to_string(range.first) + "-" + std::to_string(range.first + range.bytes - 1),
            static_cast<std::size_t>(range.bytes)};
}

// The map of the job's file, when the server has one that can be used.
std::optional<BlockMap> FetchMap(const Downloader& downloader, const DeltaJob& job, HeldLines& lines) {
    const std::string& path = job.file->FilePath;
    std::string text;
    long status = 0;
    try {
        text = downloader.FetchText(TextQuery{BlockMapAddress(job.address), std::string(), kMaxBlockMapBytes},
                                    &status);
    } catch (const std::runtime_error& error) {
        lines.Log(0, "No block map for " + path + ": " + error.what() + "; fetching it whole.");
        return std::nullopt;
    }
    if (status != 200) {
        lines.Log(0, "No block map for " + path + ": the server answered " + std::to_string(status) +
                         "; fetching it whole.");
        return std::nullopt;
    }
    // A signed list vouches for a map only by naming its digest.
    if ((job.mapMustBeNamed || !job.file->MapSHA256.empty()) &&
        Sha256Text(text) != AsciiLowerCase(job.file->MapSHA256)) {
        lines.Log(1, "The block map of " + path +
                         " is not the one the file list names; I do not use it, and fetch the file whole.");
        return std::nullopt;
    }
    try {
        return ReadBlockMap(text);
    } catch (const std::runtime_error& error) {
        lines.Log(0,
                  "The block map of " + path + " cannot be used: " + error.what() + "; fetching it whole.");
        return std::nullopt;
    }
}

// Writes the new file into out, in order: the blocks found in old copied from it, the others fetched
// as ranges, a few asked ahead. False, with the reason in lines, on the first failure.
bool WriteNewFile(const Downloader& downloader, const DeltaJob& job, const BlockMap& map,
                  const std::vector<std::int64_t>& offsets, std::FILE* old, std::FILE* out, Md5Digest& digest,
                  HeldLines& lines) {
    const std::vector<Range> ranges = MissingRanges(map, offsets);
    // As many ranges ahead as files would be in flight, within a bound on the memory they hold.
    const std::size_t ahead = std::clamp<std::size_t>(downloader.FilesInFlight(), 2, 8);
    std::size_t asked = 0;
    auto askAhead = [&](std::size_t upTo) {
        std::vector<TextQuery> queries;
        for (; asked < std::min(upTo, ranges.size()); ++asked)
            queries.push_back(RangeQuery(job, ranges[asked]));
        downloader.Prefetch(queries);
    };
    askAhead(ahead);
    auto put = [&](const unsigned char* data, std::size_t n) {
        digest.Update(data, static_cast<std::uint32_t>(n));
        if (std::fwrite(data, 1, n, out) == n) return true;
        lines.Log(0, "I could not write " + PartialPath(job.ownRoot + job.relative) + "; fetching " +
                         job.file->FilePath + " whole.");
        return false;
    };
    std::vector<unsigned char> block(map.blockBytes);
    std::size_t next = 0;  // the next range to take
    for (std::size_t i = 0; i < offsets.size();) {
        if (offsets[i] >= 0) {
            const std::size_t n = map.BlockLength(i);
            if (!SeekFile(old, static_cast<std::uint64_t>(offsets[i])) ||
                std::fread(block.data(), 1, n, old) != n) {
                lines.Log(0, "I could not read " + job.oldCopy + " again; fetching " + job.file->FilePath +
                                 " whole.");
                return false;
            }
            if (!put(block.data(), n)) return false;
            ++i;
            continue;
        }
        const Range& range = ranges[next++];
        askAhead(next + ahead);
        const TextQuery query = RangeQuery(job, range);
        long status = 0;
        std::string bytes;
        try {
            bytes = downloader.FetchText(query, &status);
        } catch (const std::runtime_error& error) {
            lines.Log(0, "A range of " + job.file->FilePath +
                             " did not come, so I fetch it whole: " + error.what());
            return false;
        }
        if (status != 206 || bytes.size() != range.bytes) {
            lines.Log(0, "The server did not give bytes " + query.range + " of " + job.address +
                             " as asked (it answered " + std::to_string(status) + " with " +
                             std::to_string(bytes.size()) + " bytes); fetching it whole.");
            return false;
        }
        if (!put(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size())) return false;
        i += range.blocks;
    }
    return true;
}

}  // namespace

bool WorthADelta(const FileEntry& file) {
    return static_cast<std::uint64_t>(ListedBytes(file)) >= kMappedFileMinBytes;
}

std::string WorthBuildingFrom(const FileEntry& file, const std::vector<std::string>& copies) {
    for (const std::string& copy : copies) {
        boost::system::error_code error;
        if (!boost::filesystem::is_regular_file(copy, error)) continue;
        const std::uint64_t bytes = boost::filesystem::file_size(copy, error);
        if (!error && bytes * 2 >= static_cast<std::uint64_t>(ListedBytes(file))) return copy;
    }
    return std::string();
}

std::string BlockMapAddress(const std::string& address) {
    return address + kBlockMapSuffix;
}

bool BuildFromCopyAtHand(const Downloader& downloader, const DeltaJob& job, HeldLines& lines) {
    const std::string& path = job.file->FilePath;
    const std::optional<BlockMap> map = FetchMap(downloader, job, lines);
    if (!map) return false;
    CFile old = OpenRegularFile(job.oldCopy);
    std::uint64_t oldBytes = 0;
    std::vector<std::int64_t> offsets;
    if (!old || !OpenFileSize(old.get(), oldBytes) || !MatchBlocks(*map, old.get(), oldBytes, offsets)) {
        lines.Log(0, "I could not read " + job.oldCopy + " to find what it holds of " + path +
                         "; fetching it whole.");
        return false;
    }
    std::uint64_t atHand = 0;
    for (std::size_t i = 0; i < offsets.size(); ++i)
        if (offsets[i] >= 0) atHand += map->BlockLength(i);
    // Beyond half, the ranges would cost more than the one request for the whole file.
    if (atHand * 2 < map->fileBytes) {
        lines.Log(0, job.oldCopy + " holds " + Bytes(atHand) + " of the " + Bytes(map->fileBytes) + " of " +
                         path + "; fetching it whole.");
        return false;
    }
    const std::string target = job.ownRoot + job.relative;
    if (FreeDiskBytes(job.ownRoot) < map->fileBytes + downloader.DiskReserveBytes()) {
        lines.Log(0, "Too little room for " + target + " beside the disk's reserve; fetching it whole.");
        return false;
    }
    lines.Log(1, "Building " + path + " from " + job.oldCopy + ": " + Bytes(atHand) + " of " +
                     Bytes(map->fileBytes) + " at hand, the rest to fetch.");

    std::uint64_t existing = 0;
    boost::system::error_code error;
    CFile out = OpenOwnFile(job.ownRoot, job.relative + kPartialSuffix, OwnFileMode::Fresh, existing, error);
    if (!out) {
        lines.Log(0, "I could not create " + PartialPath(target) + ": " + error.message() + "; fetching " +
                         path + " whole.");
        return false;
    }
    Md5Digest digest;
    const bool written = WriteNewFile(downloader, job, *map, offsets, old.get(), out.get(), digest, lines);
    const bool closed = std::fclose(out.release()) == 0;
    old.reset();  // a stale copy is the target itself, which Windows renames over only once it is closed
    digest.Finalize();
    const std::string partial = PartialPath(target);
    if (!written || !closed || digest.HexDigest() != job.file->MD5Hash) {
        if (written && !closed)
            lines.Log(0, "I could not write " + partial + "; fetching " + path + " whole.");
        if (written && closed)
            lines.Log(1, "The file built for " + path +
                             " from its block map failed its check (the list says " + job.file->MD5Hash +
                             ", I calculated " + digest.HexDigest() + "); fetching it whole.");
        std::remove(partial.c_str());
        return false;
    }
    boost::filesystem::rename(partial, target, error);
    if (error) {
        lines.Log(0, "I could not rename " + partial + " to " + target + ": " + error.message() +
                         "; fetching " + path + " whole.");
        std::remove(partial.c_str());
        return false;
    }
    lines.Log(0, "OK: " + target + " built from " + job.oldCopy + " and the ranges of " + job.address);
    return true;
}

}  // namespace zavr
