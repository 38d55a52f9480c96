// The release doctor over broken and hostile trees, and an export that refuses them.
#include "doctor.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <functional>
#include <nlohmann/json.hpp>

#include "export.h"
#include "signing.h"
#include "support/sandbox.h"

namespace zavr::devserver {
namespace {

using nlohmann::json;
using test::WriteFile;

json Product() {
    return {{"ProductID", 1001},
            {"ProdName", "KA2 Orvane"},
            {"Simulator", "XSE"},
            {"ProdVersion", 124},
            {"MinVersion", 100},
            {"PVDec", "1.2.4"},
            {"ZAVRFolderValue", "ZAVR KA2"},
            {"RegistryKey", "Software\\ZAVR Sim\\XSE"}};
}

std::vector<std::string> Problems(const std::string& root) {
    std::vector<std::string> problems;
    for (const Finding& finding : CheckRelease(root))
        if (finding.problem) problems.push_back(finding.text);
    return problems;
}

TEST(DoctorTest, NamesEachProblemOnceAndPassesAGoodTree) {
    const struct {
        const char* name;
        std::function<void(const std::string& root, json& product)> spoil;
        const char* named;  // a part of the one problem's line; nullptr for none
    } cases[] = {
        {"a good tree", [](const std::string&, json&) {}, nullptr},
        {"a version published with the old text", [](const std::string&, json& p) { p["PVDec"] = "1.2.3"; },
         "\"1.2.4\""},
        {"a version without its folder",
         [](const std::string&, json& p) {
             p["ProdVersion"] = 126;
             p["PVDec"] = "1.2.6";
         },
         "releases/1001/126"},
        {"a missing field", [](const std::string&, json& p) { p.erase("RegistryKey"); }, "RegistryKey"},
        {"a version beyond 32 bits", [](const std::string&, json& p) { p["MinVersion"] = 1LL << 40; },
         "MinVersion"},
        {"a minimum above the version", [](const std::string&, json& p) { p["MinVersion"] = 125; },
         "MinVersion 125"},
        {"a product folder that leaves the data folder",
         [](const std::string&, json& p) { p["ProdName"] = ".."; }, "ProdName"},
        {"a document outside its place",
         [](const std::string& r, json&) { WriteFile(r + "/products/staging/XSE/KA2/1.json", "[]"); },
         "staging"},
        {"an aircraft the catalogue lacks",
         [](const std::string& r, json&) { WriteFile(r + "/products/XSE/ZZ9/1.json", "[]"); }, "ZZ9"},
        {"a document that is not JSON",
         [](const std::string& r, json&) { WriteFile(r + "/products/P3D/KA2/2.json", "[{"); },
         "P3D/KA2/2.json"},
        {"a name that climbs out",
         [](const std::string& r, json&) { WriteFile(r + "/releases/1001/124/..\\..\\..\\x", "evil"); },
         "..\\..\\..\\x"},
        {"a name Windows cannot hold",
         [](const std::string& r, json&) { WriteFile(r + "/releases/1001/124/ZAVR KA2/aux.cfg", "x"); },
         "aux.cfg"},
        {"two spellings of one file",
         [](const std::string& r, json&) { WriteFile(r + "/releases/1001/110/ZAVR KA2/README.txt", "x"); },
         "README.txt"},
        {"a file named like a block map",
         [](const std::string& r, json&) {
             WriteFile(r + "/releases/1001/124/ZAVR KA2/sound.bnk.ZAVR-MAP", "x");
         },
         "sound.bnk.ZAVR-MAP"},
        {"a link to a private file",
         [](const std::string& r, json&) {
             WriteFile(r + "/../secret", "private");
             ASSERT_EQ(::symlink((r + "/../secret").c_str(), (r + "/releases/1001/124/secret").c_str()), 0);
         },
         "secret"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        const std::string root = dir / "release";
        WriteFile(root + "/releases/1001/110/ZAVR KA2/readme.txt", "a");
        WriteFile(root + "/releases/1001/124/ZAVR KA2/aircraft.cfg", "b");
        json product = Product();
        c.spoil(root, product);
        WriteFile(root + "/products/XSE/KA2/1.json", json::array({product}).dump());

        const std::vector<std::string> problems = Problems(root);
        if (c.named == nullptr) {
            EXPECT_TRUE(problems.empty()) << problems.front();
            continue;
        }
        ASSERT_EQ(problems.size(), 1u) << problems.front();
        EXPECT_NE(problems.front().find(c.named), std::string::npos) << problems.front();

        // An export writes nothing, inside its folder or anywhere else.
        Release release(root);
        EXPECT_THROW(ExportRelease(release, dir / "out"), std::runtime_error);
        EXPECT_FALSE(boost::filesystem::exists(dir / "out"));
        EXPECT_FALSE(boost::filesystem::exists(dir / "x"));
    }
}

TEST(DoctorTest, AnExportFolderThatNginxWouldExpandIsRefused) {
    test::TempDir dir;
    const std::string root = dir / "release";
    WriteFile(root + "/releases/1001/124/ZAVR KA2/aircraft.cfg", "b");
    WriteFile(root + "/products/XSE/KA2/1.json", json::array({Product()}).dump());
    Release release(root);
    EXPECT_THROW(ExportRelease(release, dir / "out$arg_p"), std::runtime_error);
    EXPECT_FALSE(boost::filesystem::exists(dir / "out$arg_p"));
    EXPECT_GT(ExportRelease(release, dir / "out"), 0u);
}

TEST(DoctorTest, ANewKeyIsWrittenWholeOrNotAtAll) {
    test::TempDir dir;
    WriteFile(dir / "key.pub", "someone else's\n");
    EXPECT_THROW(MakeKeyFile(dir / "key"), std::runtime_error);
    EXPECT_FALSE(boost::filesystem::exists(dir / "key"));
}

}  // namespace
}  // namespace zavr::devserver
