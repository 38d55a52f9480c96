// Block maps: written beside each large file of a release, they tell what every block of the file
// holds, so that an updater with an older copy at hand can fetch only the blocks it lacks. A map is a
// static file, served as it lies. Its format, all numbers little-endian:
//   "ZAVRMAP1"                      8 bytes
//   block size                      u32, a power of two, at least kMinBlockBytes
//   file size                       u64
//   SHA-256 of the whole file       32 bytes
//   then for each block, in order:  u32 weak sum (WeakSum), 16 bytes BLAKE2b of the block
// The last block may be shorter than the block size; its sums cover its own bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zavr {

// The name of a file's map: the file's own name with this added.
constexpr const char* kBlockMapSuffix = ".zavr-map";
constexpr char kBlockMapMagic[] = "ZAVRMAP1";
constexpr std::size_t kBlockMapHeaderBytes = 8 + 4 + 8 + 32;
constexpr std::size_t kBlockMapEntryBytes = 4 + 16;
// Smaller files travel whole: a map would cost a round trip more than it could save.
constexpr std::uint64_t kMappedFileMinBytes = std::uint64_t{1} << 20;
constexpr std::uint32_t kMinBlockBytes = std::uint32_t{64} << 10;
// A map of any file stays near a MiB: the block size grows with the file beyond this many blocks.
constexpr std::uint64_t kMaxMapBlocks = 65536;

// The largest block an updater accepts: a block, and each range of blocks asked ahead, is held in
// memory while the file is built. Larger files than this allows (64 GiB) travel whole.
constexpr std::uint32_t kMaxBlockBytes = std::uint32_t{1} << 20;
constexpr std::uint64_t kMappedFileMaxBytes = kMaxMapBlocks * kMaxBlockBytes;
constexpr std::size_t kMaxBlockMapBytes = kBlockMapHeaderBytes + kMaxMapBlocks * kBlockMapEntryBytes;

// A map as the updater reads it.
struct BlockMap {
    struct Block {
        std::uint32_t weak;
        unsigned char strong[16];
    };
    std::uint32_t blockBytes = 0;
    std::uint64_t fileBytes = 0;
    unsigned char sha256[32] = {};
    std::vector<Block> blocks;

    std::uint64_t BlockStart(std::size_t i) const { return std::uint64_t{blockBytes} * i; }
    std::uint32_t BlockLength(std::size_t i) const {
        const std::uint64_t left = fileBytes - BlockStart(i);
        return left < blockBytes ? static_cast<std::uint32_t>(left) : blockBytes;
    }
};

// Reads a map fetched from the server. Throws std::runtime_error with a sentence saying why when it is
// not one: a wrong opening, a block size that is not a power of two from kMinBlockBytes to
// kMaxBlockBytes, more than kMaxMapBlocks blocks, or a length other than its blocks need.
BlockMap ReadBlockMap(const std::string& bytes);

// The BLAKE2b sum that a map gives a block of n bytes. Never fails.
void StrongSum(const unsigned char* data, std::size_t n, unsigned char (&sum)[16]);

// The block size for a file of size bytes: kMinBlockBytes, doubled until the file has at most
// kMaxMapBlocks blocks. Never fails.
std::uint32_t BlockSizeFor(std::uint64_t size);

// The weak sum of n bytes: a, the sum of the bytes, and b, the sum of (n - i) times byte i, both modulo
// 2^16, as a + b * 2^16. It can be slid along a file one byte at a time. Never fails.
std::uint32_t WeakSum(const unsigned char* data, std::size_t n);

// The block map of the file at path. Throws std::runtime_error naming the file when it cannot be
// read to its end.
std::string MakeBlockMap(const std::string& path);

// The SHA-256 of bytes as 64 lower-case hexadecimal digits. Never fails.
std::string Sha256Text(const std::string& bytes);

}  // namespace zavr
