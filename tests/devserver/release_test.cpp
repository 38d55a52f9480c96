// The development update server over a release tree on disk, asked over real HTTP.
#include "release.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "routes.h"
#include "server/downloader.h"
#include "support/http_server.h"
#include "support/sandbox.h"

namespace zavr::devserver {
namespace {

using nlohmann::json;
using test::WriteFile;

class ReleaseTest : public ::testing::Test {
  protected:
    void SetUp() override {
        WriteFile(root + "/products/XSE/KA2/1.json", json::array({{{"ProductID", 7}, {"ProdVersion", 120}},
                                                                  {{"ProductID", 8}, {"ProdVersion", 100}}})
                                                         .dump());
        WriteFile(root + "/releases/7/100/a.txt", "a of 100");
        WriteFile(root + "/releases/7/110/a.txt", "a of 110");
        WriteFile(root + "/releases/7/110/dir/b.txt", "b of 110");
        WriteFile(root + "/releases/7/120/dir/b.txt", "b of 120");
        WriteFile(root + "/releases/7/130/staged.txt", "not yet released");
        WriteFile(root + "/releases/7/notes/ignored.txt", "not a version folder");
        MountRelease(server.Http(), release);
        server.Start();
    }
    std::string Get(const std::string& path) { return Downloader().FetchText(server.Url(path)); }

    test::TempDir dir;
    std::string root = dir / "release";
    Release release{root};
    test::TestServer server;
};

TEST_F(ReleaseTest, AnUpdateIsTheLatestCopyOfEachFileAboveTheInstalledVersion) {
    const auto files = release.FilesFor(7, 100);
    ASSERT_TRUE(files);
    ASSERT_EQ(files->size(), 2u);
    EXPECT_EQ((*files)[0].path, "a.txt");
    EXPECT_EQ(test::ReadFile((*files)[0].diskPath), "a of 110");
    EXPECT_EQ((*files)[1].path, "dir\\b.txt");
    EXPECT_EQ(test::ReadFile((*files)[1].diskPath), "b of 120");
    EXPECT_EQ(release.FilesFor(7, 110)->size(), 1u);
    EXPECT_TRUE(release.FilesFor(7, 120)->empty());
    EXPECT_TRUE(release.FilesFor(8, 0)->empty());
    EXPECT_FALSE(release.FilesFor(9, 0));
}

TEST_F(ReleaseTest, ServesTotalsFileListAndFiles) {
    EXPECT_EQ(json::parse(Get("/totals?product=7&version=100")),
              json::array({{{"TotalFiles", 2}, {"TotalFileSize", 2}}}));
    EXPECT_EQ(json::parse(Get("/filelist?product=7&version=110")),
              json::array({{{"Folder", "dir"},
                            {"FilePath", "dir\\b.txt"},
                            {"FileSize", 1},
                            {"MD5Hash", "5fa346fa9bf042dfdee3d21004eae6d1"}}}));
    EXPECT_EQ(Get("/files/XSE/KA2/1/dir/b.txt"), "b of 120");
    EXPECT_EQ(Get("/files/XSE/KA2/1/a.txt"), "a of 110");
    EXPECT_EQ(json::parse(Get("/products/XSE/KA2/1.json")).size(), 2u);
}

TEST_F(ReleaseTest, AnswersWhatIsMissingOrMalformedAsAServerWould) {
    httplib::Client client("127.0.0.1", server.Port());
    const auto status = [&](const std::string& path) {
        const auto response = client.Get(path.c_str());
        return response ? response->status : -1;
    };
    EXPECT_EQ(status("/totals?product=9&version=1"), 404);
    EXPECT_EQ(status("/totals?product=7"), 400);
    EXPECT_EQ(status("/filelist?product=x&version=1"), 400);
    EXPECT_EQ(status("/files/XSE/KA2/1/staged.txt"), 404) << "above the product's version";
    EXPECT_EQ(status("/files/XSE/KA2/1/none.txt"), 404);
    EXPECT_EQ(status("/files/XSE/KA2/1/%2e%2e/%2e%2e/%2e%2e/products/XSE/KA2/1.json"), 404);
    EXPECT_EQ(status("/products/XSE/KA2/%2e%2e/%2e%2e/%2e%2e/releases/7/100/a.txt.json"), 404);
    EXPECT_EQ(status("/products/XSE/KA2/2.json"), 404);
    EXPECT_EQ(status("/nothing"), 404);
}

TEST_F(ReleaseTest, ADigestFollowsAChangedFile) {
    const std::string path = root + "/releases/7/110/a.txt";
    EXPECT_EQ(release.Digest(path), "761c35da2ed99d3a04a1e2e5b6a2135b");
    WriteFile(path, "a of 111");  // same size, changed within the same second
    EXPECT_EQ(release.Digest(path), "6b2fc89db2be9ddec4c7a27a83f7c84d");
    EXPECT_EQ(release.Digest(root + "/releases/7/110/absent"), "");
}

TEST(SafeRequestPathTest, RefusesEverythingButPlainRelativeNames) {
    EXPECT_TRUE(SafeRequestPath("a/b c.txt"));
    for (const char* path : {"", "/a", "a/", "a//b", "../a", "a/./b", "a\\b", "a/.."})
        EXPECT_FALSE(SafeRequestPath(path)) << path;
}

}  // namespace
}  // namespace zavr::devserver
