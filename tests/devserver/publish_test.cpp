// Publishing releases as trees that a web server sees switch in one step.
#include "publish.h"

#include <gtest/gtest.h>
#include <sodium.h>

#include <boost/filesystem.hpp>
#include <fstream>
#include <nlohmann/json.hpp>

#include "export.h"
#include "server/block_map.h"
#include "support/sandbox.h"

namespace zavr::devserver {
namespace {

using nlohmann::json;
namespace fs = boost::filesystem;

void Document(const std::string& root, int minVersion, int version, const std::string& text) {
    test::WriteFile(root + "/products/XSE/KA2/1.json",
                    json::array({{{"ProductID", 1001},
                                  {"ProdName", "KA2 Orvane"},
                                  {"Simulator", "XSE"},
                                  {"ProdVersion", version},
                                  {"MinVersion", minVersion},
                                  {"PVDec", text},
                                  {"ZAVRFolderValue", "ZAVR KA2"},
                                  {"RegistryKey", "Software\\ZAVR Sim\\XSE"}}})
                        .dump());
}

TEST(PublishTest, ANewReleaseGoesLiveInOneStepAndTheOldOneStaysForASwitchBack) {
    test::TempDir dir;
    const std::string root = dir / "release";
    const std::string out = dir / "www";
    Release release(root);
    test::WriteFile(root + "/releases/1001/123/ZAVR KA2/aircraft.cfg", "of 1.2.3");
    Document(root, 100, 123, "1.2.3");
    const std::string first = PublishRelease(release, out).tree;
    EXPECT_TRUE(fs::exists(out + "/live/totals/1001/100.json"));

    // A reader in the middle of the old file, as nginx would be.
    std::ifstream reader(out + "/live/files/XSE/KA2/1/ZAVR KA2/aircraft.cfg", std::ios::binary);
    ASSERT_TRUE(reader);
    test::WriteFile(root + "/releases/1001/124/ZAVR KA2/aircraft.cfg", "of 1.2.4");
    Document(root, 110, 124, "1.2.4");
    const std::string second = PublishRelease(release, out).tree;
    EXPECT_NE(first, second);
    std::string read((std::istreambuf_iterator<char>(reader)), std::istreambuf_iterator<char>());
    EXPECT_EQ(read, "of 1.2.3") << "what was being read stays whole";
    EXPECT_EQ(test::ReadFile(out + "/live/files/XSE/KA2/1/ZAVR KA2/aircraft.cfg"), "of 1.2.4");
    EXPECT_FALSE(fs::exists(out + "/live/totals/1001/100.json")) << "a version no longer offered is gone";
    EXPECT_EQ(test::ReadFile(out + "/previous/files/XSE/KA2/1/ZAVR KA2/aircraft.cfg"), "of 1.2.3");

    EXPECT_EQ(SwitchBack(out), first);
    EXPECT_EQ(test::ReadFile(out + "/live/files/XSE/KA2/1/ZAVR KA2/aircraft.cfg"), "of 1.2.3");

    // A tree with a problem never goes live, and leaves nothing behind.
    Document(root, 110, 125, "1.2.5");
    EXPECT_THROW(PublishRelease(release, out), std::runtime_error);
    EXPECT_EQ(test::ReadFile(out + "/live/files/XSE/KA2/1/ZAVR KA2/aircraft.cfg"), "of 1.2.3");
    EXPECT_EQ(std::distance(fs::directory_iterator(out + "/trees"), fs::directory_iterator()), 2);
}

TEST(PublishTest, ALargeFileGetsItsBlockMapNamedInTheList) {
    test::TempDir dir;
    const std::string root = dir / "release";
    std::string big(kMappedFileMinBytes + 1000, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7919 >> 5);
    test::WriteFile(root + "/releases/1001/124/ZAVR KA2/sound.bnk", big);
    test::WriteFile(root + "/releases/1001/124/ZAVR KA2/aircraft.cfg", "small");
    Document(root, 110, 124, "1.2.4");
    Release release(root);
    ExportRelease(release, dir / "out");

    const std::string files = dir / "out/files/XSE/KA2/1/ZAVR KA2/";
    const std::string map = test::ReadFile(files + "sound.bnk" + kBlockMapSuffix);
    const std::size_t blocks = big.size() / kMinBlockBytes + 1;
    ASSERT_EQ(map.size(), kBlockMapHeaderBytes + blocks * kBlockMapEntryBytes);
    const auto number = [&](std::size_t at, int bytes) {
        std::uint64_t value = 0;
        for (int i = bytes - 1; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(map[at + i]);
        return value;
    };
    EXPECT_EQ(map.substr(0, 8), "ZAVRMAP1");
    EXPECT_EQ(number(8, 4), kMinBlockBytes);
    EXPECT_EQ(number(12, 8), big.size());
    unsigned char whole[crypto_hash_sha256_BYTES];
    crypto_hash_sha256(whole, reinterpret_cast<const unsigned char*>(big.data()), big.size());
    EXPECT_EQ(map.substr(20, 32), std::string(reinterpret_cast<const char*>(whole), sizeof whole));
    const std::string tail = big.substr((blocks - 1) * kMinBlockBytes);
    EXPECT_EQ(number(map.size() - kBlockMapEntryBytes, 4),
              WeakSum(reinterpret_cast<const unsigned char*>(tail.data()), tail.size()))
        << "the short last block is summed over its own bytes";

    const json list = json::parse(test::ReadFile(dir / "out/filelist/1001/110.json"));
    ASSERT_EQ(list.size(), 2u);
    for (const json& entry : list) {
        const bool large = entry.at("FilePath").get<std::string>() == "ZAVR KA2\\sound.bnk";
        EXPECT_EQ(entry.contains("MapSHA256"), large);
        if (large) {
            EXPECT_EQ(entry.at("MapSHA256").get<std::string>(), Sha256Text(map));
        }
    }
    EXPECT_FALSE(fs::exists(files + "aircraft.cfg" + kBlockMapSuffix)) << "a small file travels whole";
}

}  // namespace
}  // namespace zavr::devserver
