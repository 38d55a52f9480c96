// Publishing releases as trees that a web server sees switch in one step.
#include "publish.h"

#include <gtest/gtest.h>

#include <boost/filesystem.hpp>
#include <fstream>
#include <nlohmann/json.hpp>

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

}  // namespace
}  // namespace zavr::devserver
