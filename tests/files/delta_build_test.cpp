// Large files built from the copy at hand and the blocks it lacks, against a release exported with its
// block maps and served by nginx.
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>
#include <sstream>

#include "export.h"
#include "files/download_phase.h"
#include "server/block_map.h"
#include "signing.h"
#include "support/nginx.h"
#include "support/update_sandbox.h"

namespace zavr {
namespace {

using nlohmann::json;

constexpr std::size_t kSize = std::size_t{4} << 20;
constexpr std::size_t kChange = 100 << 10;
const std::string kOld = test::RandomBytes(kSize, 1);
const std::string kOther = test::RandomBytes(kSize, 2);

// What the server holds as the file's map.
enum class Map {
    AsExported,
    Missing,       // removed: the server answers 404
    Lying,         // the installed copy's map; the list names the exported one's digest
    LyingUnnamed,  // the same, and an unsigned list names no map for the file
};

struct Case {
    const char* name;
    std::string installed;  // the copy at hand, unless empty
    std::string released;
    Map map;
    bool built;                           // from the copy at hand, rather than fetched whole
    std::string partial = std::string();  // left by a killed run
    std::string stale = std::string();    // a copy in the temporary folder
};

const Case kCases[] = {
    {"changed in place", kOld, std::string(kOld).replace(kSize / 3, kChange, kOther.substr(0, kChange)),
     Map::AsExported, true},
    {"inserted", kOld, std::string(kOld).insert(kSize / 2 + 12345, kOther.substr(0, kChange)),
     Map::AsExported, true},
    {"removed, after a killed run", kOld, std::string(kOld).erase(kSize / 2 + 777, kChange), Map::AsExported,
     true, kOther.substr(0, kSize / 3)},
    {"a stale copy in the temporary folder", "", std::string(kOld).replace(kSize / 4, 1, "?"),
     Map::AsExported, true, "", kOld},
    {"an unrelated copy", kOther, kOld + "!", Map::AsExported, false},
    // Built from a lying map, the file fails its check.
    {"a lying map", kOld, kOld.substr(0, kSize - 1) + "?", Map::LyingUnnamed, false},
    {"no map on the server", kOld, std::string(kOld).replace(kSize / 5, 3, "new"), Map::Missing, false},
    {"a map the list does not name", kOld, "?" + kOld.substr(1), Map::Lying, false},
};

std::string Name(std::size_t i) {
    return "ZAVR KA2/bank" + std::to_string(i) + ".bnk";
}

TEST(DeltaBuildTest, OnlyTheBlocksTheCopyAtHandLacksTravel) {
    if (test::NginxProgram().empty()) GTEST_SKIP() << "nginx is not installed";
    const devserver::SigningKey key = devserver::ReadKeyFile(ZAVR_TEST_RELEASE_KEY);
    for (const bool signedList : {false, true}) {
        SCOPED_TRACE(signedList ? "signed" : "unsigned");
        test::UpdateSandbox sandbox;
        test::TempDir dir;
        const std::string exported = dir / "export";
        sandbox.PublishProducts(json::array({test::UpdateSandbox::Product(1001, "KA2 Orvane")}));
        for (std::size_t i = 0; i < std::size(kCases); ++i) {
            sandbox.Publish(1001, 123, Name(i), kCases[i].released);
            if (!kCases[i].installed.empty())
                test::WriteFile(sandbox.simFolder + Name(i), kCases[i].installed);
            if (!kCases[i].stale.empty()) test::WriteFile(sandbox.tempFolder + Name(i), kCases[i].stale);
            if (!kCases[i].partial.empty())
                test::WriteFile(sandbox.tempFolder + Name(i) + ".zavr-part", kCases[i].partial);
        }
        devserver::Release release(sandbox.ReleaseRoot());
        devserver::ExportRelease(release, exported, signedList ? &key : nullptr);
        const std::string files = exported + "/files/XSE/KA2/1/";
        const std::string list = exported + "/filelist/1001/110.json";
        json entries = json::parse(test::ReadFile(list));
        for (std::size_t i = 0; i < std::size(kCases); ++i) {
            if (kCases[i].map == Map::AsExported) continue;
            if (kCases[i].map == Map::Missing) {
                boost::filesystem::remove(files + Name(i) + kBlockMapSuffix);
                continue;
            }
            test::WriteFile(files + Name(i) + kBlockMapSuffix, MakeBlockMap(sandbox.simFolder + Name(i)));
            for (json& entry : entries)
                if (kCases[i].map == Map::LyingUnnamed &&
                    entry.at("FilePath").get<std::string>() == "ZAVR KA2\\bank" + std::to_string(i) + ".bnk")
                    entry.erase("MapSHA256");
        }
        if (!signedList) test::WriteFile(list, entries.dump());

        test::Nginx nginx(exported);
        test::ScopedEnv proxy("http_proxy", "http://127.0.0.1:" + std::to_string(nginx.Port()));
        TransferLimits limits;
        limits.filesInFlight = 4;
        Downloader downloader(limits);
        ProductInfo product;
        product.ProductID = 1001;
        product.ProdName = "KA2 Orvane";
        product.ProdVersion = 123;
        product.FilesUrl = "http://127.0.0.1:18642/files/XSE/KA2/1/";
        json manifest;
        const std::optional<ReleaseKey> releaseKey =
            signedList ? ReadReleaseKey(devserver::PublicKeyText(key)) : std::nullopt;
        ::testing::internal::CaptureStdout();
        EXPECT_NO_THROW(DownloadFiles(downloader, product, 110, sandbox.tempFolder, manifest, releaseKey,
                                      sandbox.simFolder));
        const std::string log = ::testing::internal::GetCapturedStdout();

        const std::string access = nginx.AccessLog();
        for (std::size_t i = 0; i < std::size(kCases); ++i) {
            const Case& c = kCases[i];
            SCOPED_TRACE(c.name);
            EXPECT_EQ(test::ReadFile(sandbox.tempFolder + Name(i)), c.released);
            EXPECT_FALSE(boost::filesystem::exists(sandbox.tempFolder + Name(i) + ".zavr-part"));
            if (!c.installed.empty()) {
                EXPECT_EQ(test::ReadFile(sandbox.simFolder + Name(i)), c.installed)
                    << "the copy at hand is only read";
            }
            const std::string path = "ZAVR KA2\\bank" + std::to_string(i) + ".bnk";
            const bool built = log.find("Building " + path) != std::string::npos &&
                               log.find("The file built for " + path) == std::string::npos;
            EXPECT_EQ(built, c.built) << log;
            std::size_t sent = 0;
            const std::string request = "/files/XSE/KA2/1/ZAVR%20KA2/bank" + std::to_string(i) + ".bnk ";
            for (const std::string& line : test::Lines(access)) {
                const std::size_t at = line.find(request);
                if (at == std::string::npos) continue;
                std::istringstream fields(line.substr(at + request.size()));
                std::string protocol;
                int status = 0;
                std::size_t bytes = 0;
                fields >> protocol >> status >> bytes;
                sent += bytes;
            }
            if (built)
                EXPECT_LT(sent, c.released.size() / 10) << "a tenth of the file at most";
            else
                EXPECT_EQ(sent, c.released.size()) << "fetched whole, once";
        }
        EXPECT_NE(log.find("is not the one the file list names; I do not use it"), std::string::npos);
        EXPECT_EQ(log.find("failed its check") != std::string::npos, !signedList)
            << "a lying map is used only when the list does not vouch for maps";
    }
}

}  // namespace
}  // namespace zavr
