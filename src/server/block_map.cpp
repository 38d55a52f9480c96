#include "server/block_map.h"

#include <sodium.h>

#include <cstdio>
#include <stdexcept>
#include <vector>

#include "platform/own_file.h"

namespace zavr {
namespace {

void AppendLittleEndian(std::string& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xff);
}

std::uint64_t ReadLittleEndian(const std::string& in, std::size_t at, int bytes) {
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(in[at + static_cast<std::size_t>(i)]);
    return value;
}

}  // namespace

BlockMap ReadBlockMap(const std::string& bytes) {
    if (bytes.size() < kBlockMapHeaderBytes || bytes.compare(0, 8, kBlockMapMagic) != 0)
        throw std::runtime_error("it does not start as a block map does");
    BlockMap map;
    const std::uint64_t blockBytes = ReadLittleEndian(bytes, 8, 4);
    map.fileBytes = ReadLittleEndian(bytes, 12, 8);
    if (blockBytes < kMinBlockBytes || blockBytes > kMaxBlockBytes || (blockBytes & (blockBytes - 1)) != 0)
        throw std::runtime_error("its block size of " + std::to_string(blockBytes) +
                                 " bytes is not one I use");
    map.blockBytes = static_cast<std::uint32_t>(blockBytes);
    const std::uint64_t count = map.fileBytes / blockBytes + (map.fileBytes % blockBytes != 0 ? 1 : 0);
    if (count > kMaxMapBlocks)
        throw std::runtime_error("it has " + std::to_string(count) + " blocks, more than the " +
                                 std::to_string(kMaxMapBlocks) + " I accept");
    if (bytes.size() != kBlockMapHeaderBytes + count * kBlockMapEntryBytes)
        throw std::runtime_error("its length of " + std::to_string(bytes.size()) +
                                 " bytes does not fit its " + std::to_string(count) + " blocks");
    bytes.copy(reinterpret_cast<char*>(map.sha256), sizeof map.sha256, 20);
    map.blocks.resize(static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < map.blocks.size(); ++i) {
        const std::size_t at = kBlockMapHeaderBytes + i * kBlockMapEntryBytes;
        map.blocks[i].weak = static_cast<std::uint32_t>(ReadLittleEndian(bytes, at, 4));
        bytes.copy(reinterpret_cast<char*>(map.blocks[i].strong), sizeof map.blocks[i].strong, at + 4);
    }
    return map;
}

void StrongSum(const unsigned char* data, std::size_t n, unsigned char (&sum)[16]) {
    crypto_generichash(sum, sizeof sum, data, n, nullptr, 0);
}

std::uint32_t BlockSizeFor(std::uint64_t size) {
    std::uint32_t block = kMinBlockBytes;
    while ((size + block - 1) / block > kMaxMapBlocks && block < (std::uint32_t{1} << 31)) block *= 2;
    return block;
}

std::uint32_t WeakSum(const unsigned char* data, std::size_t n) {
    // b as the sum of the running sums of a: byte i is in n - i of them.
    std::uint32_t a = 0, b = 0;
    for (std::size_t i = 0; i < n; ++i) {
        a += data[i];
        b += a;
    }
    return (a & 0xffff) | ((b & 0xffff) << 16);
}

std::string MakeBlockMap(const std::string& path) {
    if (sodium_init() < 0) throw std::runtime_error("libsodium could not start.");
    const CFile file = OpenRegularFile(path);
    std::uint64_t size = 0;
    if (!file || !OpenFileSize(file.get(), size)) throw std::runtime_error("I cannot read " + path + ".");
    const std::uint32_t blockBytes = BlockSizeFor(size);
    std::string entries;
    entries.reserve(static_cast<std::size_t>((size + blockBytes - 1) / blockBytes) * kBlockMapEntryBytes);
    crypto_hash_sha256_state whole;
    crypto_hash_sha256_init(&whole);
    std::vector<unsigned char> block(blockBytes);
    std::uint64_t read = 0;
    while (read < size) {
        const std::size_t n = std::fread(block.data(), 1, block.size(), file.get());
        if (n == 0) break;
        read += n;
        crypto_hash_sha256_update(&whole, block.data(), n);
        AppendLittleEndian(entries, WeakSum(block.data(), n), 4);
        unsigned char strong[16];
        StrongSum(block.data(), n, strong);
        entries.append(reinterpret_cast<const char*>(strong), sizeof strong);
    }
    if (read != size || std::ferror(file.get()))
        throw std::runtime_error("I could not read " + path + " to its end.");
    unsigned char digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256_final(&whole, digest);
    std::string map(kBlockMapMagic, 8);
    AppendLittleEndian(map, blockBytes, 4);
    AppendLittleEndian(map, size, 8);
    map.append(reinterpret_cast<const char*>(digest), sizeof digest);
    return map + entries;
}

std::string Sha256Text(const std::string& bytes) {
    unsigned char digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256(digest, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    char text[2 * crypto_hash_sha256_BYTES + 1];
    sodium_bin2hex(text, sizeof text, digest, sizeof digest);
    return text;
}

}  // namespace zavr
