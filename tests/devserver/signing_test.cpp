// The maker's side of signed releases: the key file, and the development server's signatures, checked
// as the updater checks them.
#include "signing.h"

#include <gtest/gtest.h>

#include "catalogue/stored_text.h"
#include "release.h"
#include "routes.h"
#include "server/product_info.h"
#include "server/release_signature.h"
#include "support/http_server.h"
#include "support/sandbox.h"

namespace zavr {
namespace {

TEST(SigningTest, TheDevelopmentServerSignsWhatItServesWithAKeyItMade) {
    test::TempDir dir;
    const devserver::SigningKey key = devserver::MakeKeyFile(dir / "maker.key");
    EXPECT_THROW(devserver::MakeKeyFile(dir / "maker.key"), std::runtime_error) << "never over a key";
    EXPECT_EQ(devserver::PublicKeyText(devserver::ReadKeyFile(dir / "maker.key")),
              devserver::PublicKeyText(key));
    EXPECT_EQ(test::ReadFile(dir / "maker.key.pub"), devserver::PublicKeyText(key) + "\n");

    const std::string root = dir / "release";
    test::WriteFile(root + "/products/XSE/KA2/1.json",
                    R"([{"ProductID": 7, "ProdVersion": 120, "MinVersion": 100}])");
    test::WriteFile(root + "/releases/7/120/a.txt", "a");
    devserver::Release release(root);
    test::TestServer server;
    devserver::MountRelease(server.Http(), release, &key);
    server.Start();
    const Downloader downloader;
    const auto releaseKey = ReadReleaseKey(devserver::PublicKeyText(key));
    const std::string document = server.Url("/products/XSE/KA2/1.json");
    const std::string list = server.Url("/filelist?product=7&version=110");
    EXPECT_EQ(SignatureProblem(downloader, *releaseKey, document,
                               ProductDocumentMessage(document, downloader.FetchText(document))),
              std::nullopt);
    const std::string reply = downloader.FetchText(list);
    const std::int32_t target = release.CurrentVersion(7).value();
    EXPECT_EQ(SignatureProblem(downloader, *releaseKey, list, FileListMessage(7, 110, target, reply)),
              std::nullopt);
    EXPECT_NE(SignatureProblem(downloader, *releaseKey, list, FileListMessage(7, 100, target, reply)),
              std::nullopt)
        << "a list is bound to its installed version";
    EXPECT_NE(SignatureProblem(downloader, *releaseKey, list, FileListMessage(7, 110, target - 1, reply)),
              std::nullopt)
        << "and to the version it installs";

    // A document the server lacks is named as missing, not as unsigned.
    std::string info = server.Url("/products/XSE/KB1/1.json");
    std::string files = server.Url("/files/XSE/KB1/1/");
    ScrambleInPlace(info.data());
    ScrambleInPlace(files.data());
    std::vector<ProductInfo> products;
    try {
        FetchProductInfo(downloader, {{info.data(), files.data()}}, "XSE", products, releaseKey);
        ADD_FAILURE() << "a missing document was taken";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("answered 404"), std::string::npos) << error.what();
        EXPECT_EQ(std::string(error.what()).find("signed"), std::string::npos) << error.what();
    }
}

}  // namespace
}  // namespace zavr
