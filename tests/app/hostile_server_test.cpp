// What a broken or hostile server can make the real program do: never write outside its folders,
// never leave an installed file half-written, and end the run only where a query's reply is unusable.
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>
#include <mutex>

#include "app/run.h"
#include "build_config.h"
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
    void ServeAt(const std::string& pattern, int status, const std::string& body) {
        sandbox.Server().Get(pattern, [status, body](const httplib::Request&, httplib::Response& r) {
            r.status = status;
            r.set_content(body, "text/html");
        });
    }
    std::size_t FileRequests() {
        std::size_t count = 0;
        for (const std::string& request : sandbox.Server().Requests())
            count += request.find("/files/") != std::string::npos;
        return count;
    }
    // The product failed with a message that starts as given, nothing changed and the run completed.
    void ExpectProductFailed(const test::ProcessResult& result, const std::string& messageStart) {
        EXPECT_EQ(result.exitCode, kExitComplete) << result.out;
        EXPECT_TRUE(sandbox.LastRunLogHasStart(
            "[ZAVR 2] Update terminated abnormally for KA2 Orvane for XSE: " + messageStart))
            << result.out;
        EXPECT_TRUE(sandbox.LastRunLogHas("[ZAVR 1] Installed products that failed to update: 1"));
        EXPECT_EQ(test::ReadFile(sandbox.productFolder + "aircraft.cfg"), "installed");
        EXPECT_EQ(sandbox.RegistryValue("HKEY_LOCAL_MACHINE", test::kUninstallKey, "DisplayVersion"),
                  "1.1.0");
    }

    UpdateSandbox sandbox;
};

// The same, with the file list that each case of a table sets, served by the sandbox's one server.
class HostileFileListTest : public HostileServerTest {
  protected:
    void SetUp() override {
        HostileServerTest::SetUp();
        sandbox.Server().Get("/filelist", [this](const httplib::Request&, httplib::Response& r) {
            std::lock_guard<std::mutex> lock(mutex_);
            r.set_content(fileList_, "application/json");
        });
    }
    void ServeFileList(std::string body) {
        std::lock_guard<std::mutex> lock(mutex_);
        fileList_ = std::move(body);
    }

  private:
    std::mutex mutex_;
    std::string fileList_;
};

TEST_F(HostileFileListTest, UnsafeFilePathsAreRefusedBeforeAnythingIsWritten) {
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
        {"a\\.", "a\\.\\evil.dll", "a\\.", "holds a \".\" element"},
        {"a", "a\\\\evil.dll", "a\\\\evil.dll", "holds an empty element (a doubled separator)"},
        {"Backup\\KA2\\XSE\\ZAVR KA2", "Backup\\KA2\\XSE\\ZAVR KA2\\aircraft.cfg",
         "Backup\\KA2\\XSE\\ZAVR KA2", "reaches into the updater's Backup folder"},
        {"bACKUP", "bACKUP\\x", "bACKUP", "reaches into the updater's Backup folder"},
        {"a.zavr-part", "a.zavr-part\\x", "a.zavr-part",
         "has an element ending in \".zavr-part\", the name I give a download until it is complete"},
        {"a", "a\\x.zavr-part", "a\\x.zavr-part",
         "has an element ending in \".zavr-part\", the name I give a download until it is complete"},
        {"Backup.", "Backup.\\x", "Backup.",
         "has an element ending in a dot or a space, which Windows drops from a name"},
        {"a", "a\\Nul.txt", "a\\Nul.txt", "names the Windows device \"Nul.txt\""},
        {"a", "a\\b?.txt", "a\\b?.txt", "holds the character ?, which Windows does not allow in a name"},
    };
    for (const auto& c : cases) {
        ServeFileList(json::array({Entry(c.folder, c.path)}).dump());
        const test::ProcessResult result = sandbox.Run();
        ExpectProductFailed(result, "Entry 1 of the server's file list names the path \"" +
                                        std::string(c.named) + "\", which I refuse: it " + c.reason + ".");
        EXPECT_FALSE(sandbox.LastRunLogHas("[ZAVR 1] *** Downloading file 1 of 1 ***"))
            << "refused before it starts";
        EXPECT_EQ(FileRequests(), 0u) << c.path;
        EXPECT_FALSE(boost::filesystem::exists(sandbox.dataFolder + "KA2 Orvane/evil.dll"));
        EXPECT_FALSE(boost::filesystem::exists(sandbox.dataFolder + "evil.dll"));
    }
}

TEST_F(HostileFileListTest, TwoSpellingsOfOneFileWithDifferentDigestsAreRefused) {
    // Letter case makes two spellings only where the file system ignores it (under Wine).
    json second = Entry("ZAVR KA2", "ZAVR KA2/aircraft.cfg");
    second["MD5Hash"] = "0123456789abcdef0123456789abcdef";
    ServeFileList(json::array({Entry("ZAVR KA2", "ZAVR KA2\\aircraft.cfg"), second}).dump());
    ExpectProductFailed(
        sandbox.Run(),
        "Entries 1 and 2 of the server's file list name the same file (\"ZAVR KA2\\aircraft.cfg\" and "
        "\"ZAVR KA2/aircraft.cfg\") with different digests; I refuse the list.");
    EXPECT_EQ(FileRequests(), 0u);
    EXPECT_FALSE(boost::filesystem::exists(sandbox.tempFolder + "Backup"));
}

TEST_F(HostileServerTest, UnsafeProductNamesAreRefused) {
    sandbox.Publish(1002, 123, "ZAVR KA2/aircraft.cfg", "new");
    for (const char* name : {"..", ".", "a/b", "a\\b", "C:"}) {
        sandbox.PublishProducts(
            json::array({UpdateSandbox::Product(1001, name), UpdateSandbox::Product(1002, "KA2 Orvane")}));
        sandbox.Install("1.1.0");  // the product after the refused one updates every time
        const test::ProcessResult result = sandbox.Run();
        EXPECT_EQ(result.exitCode, kExitComplete);
        EXPECT_TRUE(sandbox.LastRunLogHasStart(
            "[ZAVR 2] Update terminated abnormally for " + std::string(name) +
            " for XSE: The server names a product folder \"" + name + "\", which I refuse: "))
            << result.out;
        EXPECT_TRUE(sandbox.LastRunLogHas("[ZAVR 1] Installed products that failed to update: 1")) << name;
        EXPECT_TRUE(sandbox.LastRunLogHas("[ZAVR 1] Installed products successfully updated: 1")) << name;
        EXPECT_FALSE(boost::filesystem::exists(sandbox.dataFolder + "../XSE")) << name;
    }
}

TEST_F(HostileServerTest, AFileListThatIsNotJsonFailsTheProduct) {
    ServeAt("/filelist", 500, "<html>Internal Server Error</html>");
    ExpectProductFailed(sandbox.Run(),
                        "The server's file list for KA2 Orvane is not valid JSON ([json.exception.");
    EXPECT_EQ(FileRequests(), 0u);
}

TEST_F(HostileFileListTest, ANumberTooLargeForTheLibraryFailsOnlyTheProduct) {
    ServeFileList(R"([{"Folder": "a", "FilePath": "a\\b", "FileSize": 1e999, "MD5Hash": "x"}])");
    ExpectProductFailed(
        sandbox.Run(),
        "The server's file list for KA2 Orvane is not valid JSON ([json.exception.out_of_range");
}

TEST_F(HostileFileListTest, MalformedEntriesFailTheProductWithASentence) {
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
        ServeFileList(json::array({c.entry}).dump());
        ExpectProductFailed(sandbox.Run(), c.message);
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
        ASSERT_GE(log.size(), 2u);
        EXPECT_EQ(log.back().rfind("[ZAVR 2] What to do: the maker's update server gave me", 0), 0u)
            << log.back();
        const std::string url =
            std::string(ZAVR_UPDATE_SERVER) +
            (query[1] == 'p' ? "products/XSE/KA2/1.json" : "totals?product=1001&version=110");
        EXPECT_EQ(log[log.size() - 2].rfind("[ZAVR 2] The server's reply to " + url +
                                                " is not what I expected: [json.exception.parse_error",
                                            0),
                  0u)
            << query << ": " << log[log.size() - 2];
        EXPECT_FALSE(fresh.LastRunLogHas("[ZAVR 1] Done."));
    }
}

TEST_F(HostileServerTest, AnUnreachableServerEndsTheRunWithStatusTwo) {
    const test::ProcessResult result =
        sandbox.Run({{"http_proxy", "http://127.0.0.1:" + std::to_string(test::ClosedPort())}});
    EXPECT_EQ(result.exitCode, kExitError);
    const std::vector<std::string> log = sandbox.LastRunLog();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2].rfind(
                  "[ZAVR 2] Failed to get " ZAVR_UPDATE_SERVER "products/XSE/KA2/1.json, ", 0),
              0u)
        << log[log.size() - 2];
    EXPECT_EQ(log.back().rfind("[ZAVR 2] What to do: check that this computer is connected", 0), 0u)
        << log.back();
}

}  // namespace
}  // namespace zavr
