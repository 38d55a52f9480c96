// The block map's arithmetic that updaters will rely on: how big a map gets, and a weak sum that
// slides along a file.
#include "server/block_map.h"

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <vector>

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
