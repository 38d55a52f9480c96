// What a broken or hostile server can make the real program do: never write outside its folders,
// never leave an installed file half-written, and end the run only where a query's reply is unusable.
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include "build_config.h"
#include "app/run.h"
#include "support/update_sandbox.h"

namespace zavr {
namespace {

using nlohmann::json;
using test::UpdateSandbox;

json Entry(const std::string& folder, const std::string& path) {
    return {{"Folder", folder},
            {"FilePath", path},
            {"FileSize", 1},
            {"MD5Hash", "d41d8cd98f00b204e9800998ecf8427e"}};
}

class HostileServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sandbox.PublishProducts(json::array({UpdateSandbox::Product(1001, "KA2 Orvane")}));
        sandbox.Publish(1001, 123, "ZAVR KA2/aircraft.cfg", "new");
        test::WriteFile(sandbox.productFolder + "aircraft.cfg", "installed");
        sandbox.Install("1.1.0");
    }
    void ServeFileList(const std::string& body) {
        sandbox.Server().Get("/filelist", [body](const httplib::Request&, httplib::Response& r) {
            r.set_content(body, "application/json");
        });
    }
    void ServeAt(const std::string& pattern, int status, const std::string& body) {
        sandbox.Server().Get(pattern, [status, body](const httplib::Request&, httplib::Response& r) {
            r.status = status;
            r.set_content(body, "text/html");
        });
    }
    bool AnyFileRequested() {
        for (const std::string& request : sandbox.Server().Requests())
            if (request.find("/files/") != std::string::npos) return true;
        return false;
    }
    // The product failed with a message that starts as given, nothing changed and the run completed.
    void ExpectProductFailed(const test::ProcessResult& result, const std::string& messageStart) {
        EXPECT_EQ(result.exitCode, kExitComplete) << result.out;
        const std::string prefix =
            "[ZAVR 2] Update terminated abnormally for KA2 Orvane for XSE: " + messageStart;
        bool found = false;
        for (const std::string& line : sandbox.LastRunLog()) found = found || line.rfind(prefix, 0) == 0;
        EXPECT_TRUE(found) << result.out;
        EXPECT_TRUE(sandbox.LastRunLogHas("[ZAVR 1] Installed products that failed to update: 1"));
        EXPECT_EQ(test::ReadFile(sandbox.productFolder + "aircraft.cfg"), "installed");
        EXPECT_EQ(sandbox.RegistryValue("HKEY_LOCAL_MACHINE", test::kUninstallKey, "DisplayVersion"),
                  "1.1.0");
    }

    UpdateSandbox sandbox;
};

TEST_F(HostileServerTest, UnsafeFilePathsAreRefusedBeforeAnythingIsWritten) {
    const struct {
        const char* folder;
        const char* path;
        const char* named;  // the path the refusal names: Folder is checked before FilePath
        const char* reason;
    } cases[] = {
        {"..", "..\\evil.dll", "..", "climbs out of its folder with \"..\""},
        {"a", "a\\..\\..\\..\\evil.dll", "a\\..\\..\\..\\evil.dll", "climbs out of its folder with \"..\""},
        {"", "\\evil.dll", "\\evil.dll", "is absolute"},
        {"", "/etc/evil", "/etc/evil", "is absolute"},
        {"C:\\Windows", "C:\\Windows\\evil.dll", "C:\\Windows", "starts with a drive"},
        {"a", "a\\file.txt:stream", "a\\file.txt:stream", "holds a colon"},
        {"..\\x", "ok.txt", "..\\x", "climbs out of its folder with \"..\""},
        {"a", "a\\", "a\\", "names no file"},
    };
    for (const auto& c : cases) {
        UpdateSandbox fresh;
        fresh.PublishProducts(json::array({UpdateSandbox::Product(1001, "KA2 Orvane")}));
        fresh.Install("1.1.0");
        const std::string body = json::array({Entry(c.folder, c.path)}).dump();
        fresh.Server().Get("/filelist", [body](const httplib::Request&, httplib::Response& r) {
            r.set_content(body, "application/json");
        });
        const test::ProcessResult result = fresh.Run();
        EXPECT_TRUE(fresh.LastRunLogHas(
            "[ZAVR 2] Update terminated abnormally for KA2 Orvane for XSE: Entry 1 of the "
            "server's file list names the path \"" +
            std::string(c.named) + "\", which I refuse: it " + c.reason + "."))
            << result.out;
        EXPECT_TRUE(fresh.LastRunLogHas("[ZAVR 1] Installed products that failed to update: 1"));
        EXPECT_FALSE(fresh.LastRunLogHas("[ZAVR 1] *** Downloading file 1 of 1 ***"))
            << "refused before it starts";
        for (const std::string& request : fresh.Server().Requests())
            EXPECT_EQ(request.find("/files/"), std::string::npos) << c.path;
        EXPECT_FALSE(boost::filesystem::exists(fresh.dataFolder + "KA2 Orvane/evil.dll"));
        EXPECT_FALSE(boost::filesystem::exists(fresh.dataFolder + "evil.dll"));
    }
}

TEST_F(HostileServerTest, UnsafeProductNamesAreRefused) {
    for (const char* name : {"..", ".", "a/b", "a\\b", "C:"}) {
        UpdateSandbox fresh;
        json product = UpdateSandbox::Product(1001, name);
        fresh.PublishProducts(json::array({product, UpdateSandbox::Product(1002, "KA2 Orvane")}));
        fresh.Publish(1002, 123, "ZAVR KA2/aircraft.cfg", "new");
        fresh.Install("1.1.0");
        const test::ProcessResult result = fresh.Run();
        EXPECT_EQ(result.exitCode, kExitComplete);
        const std::string prefix = "[ZAVR 2] Update terminated abnormally for " + std::string(name) +
                                   " for XSE: The server names a product folder \"" + name +
                                   "\", which I refuse: ";
        bool found = false;
        for (const std::string& line : fresh.LastRunLog()) found = found || line.rfind(prefix, 0) == 0;
        EXPECT_TRUE(found) << result.out;
        EXPECT_TRUE(fresh.LastRunLogHas("[ZAVR 1] Installed products that failed to update: 1")) << name;
        EXPECT_TRUE(fresh.LastRunLogHas("[ZAVR 1] Installed products successfully updated: 1")) << name;
        EXPECT_FALSE(boost::filesystem::exists(fresh.dataFolder + "../XSE")) << name;
    }
}

TEST_F(HostileServerTest, AFileListThatIsNotJsonFailsTheProduct) {
    ServeAt("/filelist", 500, "<html>Internal Server Error</html>");
    ExpectProductFailed(sandbox.Run(),
                        "The server's file list for KA2 Orvane is not valid JSON ([json.exception.");
    EXPECT_FALSE(AnyFileRequested());
}

TEST_F(HostileServerTest, ANumberTooLargeForTheLibraryFailsOnlyTheProduct) {
    ServeFileList(R"([{"Folder": "a", "FilePath": "a\\b", "FileSize": 1e999, "MD5Hash": "x"}])");
    ExpectProductFailed(
        sandbox.Run(),
        "The server's file list for KA2 Orvane is not valid JSON ([json.exception.out_of_range");
}

TEST_F(HostileServerTest, MalformedEntriesFailTheProductWithASentence) {
    const struct {
        json entry;
        const char* message;
    } cases[] = {
        {json{{"Folder", "a"}, {"FilePath", "a\\b"}, {"FileSize", 1}},
         "Entry 1 of the server's file list cannot be used: its \"MD5Hash\" is missing instead of a string."},
        {json{{"Folder", 3}, {"FilePath", "a\\b"}, {"FileSize", 1}, {"MD5Hash", "x"}},
         "Entry 1 of the server's file list cannot be used: its \"Folder\" is a number instead of a string."},
        {json{{"Folder", "a"}, {"FilePath", "a\\b"}, {"FileSize", "1"}, {"MD5Hash", "x"}},
         "Entry 1 of the server's file list cannot be used: its \"FileSize\" is a string instead of a "
         "number."},
        {json("just text"), "Entry 1 of the server's file list is a string instead of an object."},
    };
    for (const auto& c : cases) {
        UpdateSandbox fresh;
        fresh.PublishProducts(json::array({UpdateSandbox::Product(1001, "KA2 Orvane")}));
        fresh.Install("1.1.0");
        const std::string body = json::array({c.entry}).dump();
        fresh.Server().Get("/filelist", [body](const httplib::Request&, httplib::Response& r) {
            r.set_content(body, "application/json");
        });
        const test::ProcessResult result = fresh.Run();
        EXPECT_EQ(result.exitCode, kExitComplete);
        EXPECT_TRUE(fresh.LastRunLogHas("[ZAVR 2] Update terminated abnormally for KA2 Orvane for XSE: " +
                                        std::string(c.message)))
            << result.out;
    }
}

TEST_F(HostileServerTest, AnUnusableProductOrTotalsReplyEndsTheRunWithStatusTwo) {
    for (const char* query : {"/products/XSE/KA2/1.json", "/totals"}) {
        UpdateSandbox fresh;
        fresh.PublishProducts(json::array({UpdateSandbox::Product(1001, "KA2 Orvane")}));
        fresh.Install("1.1.0");
        fresh.Server().Get(query, [](const httplib::Request&, httplib::Response& r) {
            r.status = 500;
            r.set_content("<html>Internal Server Error</html>", "text/html");
        });
        const test::ProcessResult result = fresh.Run();
        EXPECT_EQ(result.exitCode, kExitError) << query;
        const std::vector<std::string> log = fresh.LastRunLog();
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log.back().rfind("[ZAVR 2] [json.exception.parse_error", 0), 0u)
            << query << ": " << log.back();
        EXPECT_NE(result.out.find("[json.exception.parse_error"), std::string::npos);
        EXPECT_FALSE(fresh.LastRunLogHas("[ZAVR 1] Done."));
    }
}

TEST_F(HostileServerTest, AnUnreachableServerEndsTheRunWithStatusTwo) {
    const test::ProcessResult result =
        sandbox.Run({{"http_proxy", "http://127.0.0.1:" + std::to_string(test::ClosedPort())}});
    EXPECT_EQ(result.exitCode, kExitError);
    const std::vector<std::string> log = sandbox.LastRunLog();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().rfind("[ZAVR 2] Failed to get " ZAVR_UPDATE_SERVER "products/XSE/KA2/1.json, ", 0),
              0u)
        << log.back();
}

}  // namespace
}  // namespace zavr
