// The block map's arithmetic that updaters rely on: how big a map gets, a weak sum that slides along a
// file, and what a map must be for an updater to read it.
#include "server/block_map.h"

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <vector>

#include "support/sandbox.h"

namespace zavr {
namespace {

TEST(BlockMapTest, MapsStayNearAMebibyteWhateverTheFile) {
    constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;
    const struct {
        std::uint64_t size;
        std::uint32_t block;
    } cases[] = {
        {0, kMinBlockBytes},
        {kMappedFileMinBytes, kMinBlockBytes},
        {kGiB, kMinBlockBytes},
        {4 * kGiB, kMinBlockBytes},
        {4 * kGiB + 1, 2 * kMinBlockBytes},
        {kMappedFileMaxBytes, kMaxBlockBytes},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        EXPECT_EQ(BlockSizeFor(c.size), c.block);
        EXPECT_LE((c.size + c.block - 1) / c.block, kMaxMapBlocks);
    }
}

TEST(BlockMapTest, TheWeakSumSlidesOneByteAtATime) {
    std::mt19937 random(7);
    std::vector<unsigned char> data(5000);
    for (unsigned char& byte : data) byte = static_cast<unsigned char>(random());
    const std::size_t n = 1024;
    std::uint32_t a = WeakSum(data.data(), n) & 0xffff, b = WeakSum(data.data(), n) >> 16;
    for (std::size_t k = 0; k + n < data.size(); ++k) {
        // Out goes byte k, in comes byte k + n: the sums move without looking at the bytes between.
        a = (a - data[k] + data[k + n]) & 0xffff;
        b = (b - static_cast<std::uint32_t>(n * data[k]) + a) & 0xffff;
        ASSERT_EQ(a | b << 16, WeakSum(data.data() + k + 1, n)) << "at " << k + 1;
    }
}

TEST(BlockMapTest, OnlyAMapWithinTheBoundsIsRead) {
    test::TempDir dir;
    std::string file(kMinBlockBytes * 2 + 100, 'z');
    test::WriteFile(dir / "bank", file);
    const std::string map = MakeBlockMap(dir / "bank");
    const BlockMap read = ReadBlockMap(map);
    EXPECT_EQ(read.blocks.size(), 3u);
    EXPECT_EQ(read.BlockLength(2), 100u);
    EXPECT_EQ(read.blocks[2].weak, WeakSum(reinterpret_cast<const unsigned char*>(file.data()), 100));

    const auto with = [&](std::size_t at, std::string bytes) {
        return std::string(map).replace(at, bytes.size(), bytes);
    };
    const struct {
        const char* name;
        std::string map;
        const char* reason;
    } cases[] = {
        {"another format", with(0, "ZAVRMAP2"), "it does not start as a block map does"},
        {"a header cut short", map.substr(0, 40), "it does not start as a block map does"},
        {"a block size not a power of two", with(8, std::string("\x01\x00\x01\x00", 4)),
         "block size of 65537 bytes"},
        {"blocks larger than the updater holds", with(8, std::string("\x00\x00\x20\x00", 4)),
         "block size of 2097152 bytes"},
        {"more blocks than a map may have", with(12, std::string("\x01\x00\x00\x00\x01\x00\x00\x00", 8)),
         "more than the 65536 I accept"},
        {"a block missing", map.substr(0, map.size() - kBlockMapEntryBytes), "does not fit its 3 blocks"},
        {"a block too many", map + std::string(kBlockMapEntryBytes, '\0'), "does not fit its 3 blocks"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            ReadBlockMap(c.map);
            ADD_FAILURE() << "read";
        } catch (const std::runtime_error& error) {
            EXPECT_NE(std::string(error.what()).find(c.reason), std::string::npos) << error.what();
        }
    }
}

TEST(BlockMapTest, AFileThatCannotBeReadIsNamed) {
    try {
        MakeBlockMap("/nonexistent/sound.bnk");
        FAIL() << "no error";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("/nonexistent/sound.bnk"), std::string::npos);
    }
}

}  // namespace
}  // namespace zavr
