// What a user had is never lost: one run at a time, backups that hold the user's files however many
// attempts an update takes, installs that survive a kill at any moment, and links that are either
// refused (in the updater's own folders) or followed as the user laid them out (in the simulator's).
#include <gtest/gtest.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <chrono>
#include <cmath>
#include <future>
#include <map>
#include <mutex>
#include <random>

#include "app/run.h"
#include "support/update_sandbox.h"

namespace zavr {
namespace {

namespace fs = boost::filesystem;
using nlohmann::json;
using test::ReadFile;
using test::UpdateSandbox;
using test::WriteFile;

class SafeInstallTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sandbox.PublishProducts(json::array({UpdateSandbox::Product(1001, "KA2 Orvane")}));
        sandbox.Publish(1001, 123, "ZAVR KA2/aircraft.cfg", test::kNewCfg);
        WriteFile(sandbox.productFolder + "aircraft.cfg", test::kOldCfg);
        sandbox.Install("1.1.0");
    }
    bool Has(const std::string& entry) { return sandbox.LastRunLogHas(entry); }
    std::string Version() {
        return sandbox.RegistryValue("HKEY_LOCAL_MACHINE", test::kUninstallKey, "DisplayVersion");
    }
    std::string Backup(const std::string& path) { return ReadFile(sandbox.backupFolder + path); }

    UpdateSandbox sandbox;
};

TEST_F(SafeInstallTest, OfTwoRunsStartedTogetherTheSecondChangesNothing) {
    // The first run holds the lock while the server keeps it waiting for the product information.
    std::promise<void> asked, release;
    std::future<void> askedFuture = asked.get_future();
    const std::shared_future<void> released = release.get_future().share();
    std::once_flag firstRequest;
    const std::string products = json::array({UpdateSandbox::Product(1001, "KA2 Orvane")}).dump();
    sandbox.Server().Get("/products/XSE/KA2/1.json", [&](const httplib::Request&, httplib::Response& r) {
        std::call_once(firstRequest, [&] {
            asked.set_value();
            released.wait();
        });
        r.set_content(products, "application/json");
    });
    sandbox.Start();
    std::future<test::ProcessResult> first = std::async(std::launch::async, [&] { return sandbox.Run(); });
    const bool waiting = askedFuture.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
    const test::ProcessResult second = waiting ? sandbox.Run() : test::ProcessResult{};
    release.set_value();
    const test::ProcessResult firstResult = first.get();
    ASSERT_TRUE(waiting) << firstResult.out;

    EXPECT_EQ(second.exitCode, kExitError);
    EXPECT_EQ(test::LogEntries(second.out).size(), 1u) << "one sentence, and nothing done";
    EXPECT_NE(second.out.find("[ZAVR 2] Another run of the updater is in progress"), std::string::npos)
        << second.out;
    EXPECT_NE(sandbox.LogText().find("[ZAVR 2] Another run of the updater is in progress"),
              std::string::npos);
    EXPECT_EQ(firstResult.exitCode, kExitComplete) << firstResult.out;
    EXPECT_TRUE(Has("[ZAVR 1] Installed products successfully updated: 1"));
    EXPECT_EQ(Backup("ZAVR KA2/aircraft.cfg"), test::kOldCfg);
}

TEST_F(SafeInstallTest, ARetryAfterAFailedEntryKeepsTheOriginalBackups) {
    // Downloaded whole by an earlier run; the second file's copy then fails on a full disk.
    const std::string oldBig(2 << 20, 'o'), newBig(2 << 20, 'n');
    sandbox.Publish(1001, 123, "ZAVR KA2/texture/big.bmp", newBig);
    WriteFile(sandbox.productFolder + "texture/big.bmp", oldBig);
    WriteFile(sandbox.tempFolder + "ZAVR KA2/aircraft.cfg", test::kNewCfg);
    WriteFile(sandbox.tempFolder + "ZAVR KA2/texture/big.bmp", newBig);
    test::ProcessLimits limits;
    limits.fileSizeBytes = 1 << 20;
    ASSERT_EQ(sandbox.Run({}, limits).exitCode, kExitComplete);
    ASSERT_TRUE(Has("[ZAVR 1] Installed products that failed to update: 1"));
    ASSERT_EQ(ReadFile(sandbox.productFolder + "aircraft.cfg"), test::kNewCfg) << "the first entry went in";

    ASSERT_EQ(sandbox.Run().exitCode, kExitComplete);
    EXPECT_TRUE(Has("[ZAVR 1] Installed products successfully updated: 1"));
    EXPECT_EQ(ReadFile(sandbox.productFolder + "texture/big.bmp"), newBig);
    EXPECT_EQ(Backup("ZAVR KA2/aircraft.cfg"), test::kOldCfg) << "not the new file the failed run had put in";
    EXPECT_EQ(Backup("ZAVR KA2/texture/big.bmp"), oldBig);
    EXPECT_EQ(Version(), "1.2.3");
}

TEST_F(SafeInstallTest, AListNamingAFileTwiceKeepsTheOriginalBackup) {
    const json entry = {{"Folder", "ZAVR KA2"}, {"FileSize", 1}, {"MD5Hash", test::Md5Of(test::kNewCfg)}};
    json first = entry, again = entry;
    first["FilePath"] = "ZAVR KA2\\aircraft.cfg";
    again["FilePath"] = "ZAVR KA2/aircraft.cfg";
    const std::string list = json::array({first, again}).dump();
    sandbox.Server().Get("/filelist", [list](const httplib::Request&, httplib::Response& r) {
        r.set_content(list, "application/json");
    });
    ASSERT_EQ(sandbox.Run().exitCode, kExitComplete);
    EXPECT_TRUE(Has("[ZAVR 1] Installed products successfully updated: 1"));
    EXPECT_EQ(ReadFile(sandbox.productFolder + "aircraft.cfg"), test::kNewCfg);
    EXPECT_EQ(Backup("ZAVR KA2/aircraft.cfg"), test::kOldCfg);
}

TEST_F(SafeInstallTest, LinksInTheUpdatersOwnFoldersAreRefused) {
    const std::string outside = sandbox.Root() + "/outside";
    const struct {
        const char* what;
        std::string link;  // made to point at outside
    } cases[] = {
        {"the product's temporary folder", sandbox.dataFolder + "KA2 Orvane"},
        {"a folder of the temporary tree", sandbox.tempFolder + "ZAVR KA2"},
        {"the backup tree", sandbox.tempFolder + "Backup"},
    };
    for (const auto& c : cases) {
        fs::remove_all(sandbox.dataFolder + "KA2 Orvane");
        fs::create_directories(fs::path(c.link).parent_path());
        fs::create_directories(outside);
        fs::create_directory_symlink(outside, c.link);
        ASSERT_EQ(sandbox.Run().exitCode, kExitComplete) << c.what;
        EXPECT_TRUE(
            sandbox.LastRunLogHasStart("[ZAVR 2] Update terminated abnormally for KA2 Orvane for XSE: "
                                       "I found a link at " +
                                       c.link + " in my own folder"))
            << c.what << "\n"
            << sandbox.LogText();
        EXPECT_TRUE(fs::is_empty(outside)) << c.what << ": nothing is written through the link";
        EXPECT_EQ(ReadFile(sandbox.productFolder + "aircraft.cfg"), test::kOldCfg) << c.what;
        EXPECT_EQ(Version(), "1.1.0");
        fs::remove(c.link);
    }
}

TEST_F(SafeInstallTest, LinksInTheSimulatorFolderAreTheUsersLayout) {
    // The product's folder moved elsewhere and linked back, and its cfg a link to a file elsewhere.
    const std::string realFolder = sandbox.Root() + "/other-drive/ZAVR KA2/";
    const std::string realCfg = sandbox.Root() + "/other-drive/my.cfg";
    fs::create_directories(realFolder);
    fs::remove_all(sandbox.productFolder);
    fs::create_directory_symlink(realFolder, sandbox.simFolder + "ZAVR KA2");
    WriteFile(realCfg, test::kOldCfg);
    fs::create_symlink(realCfg, realFolder + "aircraft.cfg");
    sandbox.Publish(1001, 123, "ZAVR KA2/panel/new.gau", "new gauge");

    ASSERT_EQ(sandbox.Run().exitCode, kExitComplete);
    EXPECT_TRUE(Has("[ZAVR 1] Installed products successfully updated: 1")) << sandbox.LogText();
    EXPECT_TRUE(fs::is_symlink(sandbox.simFolder + "ZAVR KA2"));
    EXPECT_TRUE(fs::is_symlink(realFolder + "aircraft.cfg")) << "the link stays";
    EXPECT_EQ(ReadFile(realCfg), test::kNewCfg) << "its target is replaced";
    EXPECT_EQ(ReadFile(realFolder + "panel/new.gau"), "new gauge");
    EXPECT_EQ(Backup("ZAVR KA2/aircraft.cfg"), test::kOldCfg);
    EXPECT_EQ(test::FilesUnder(sandbox.Root() + "/other-drive"),
              (std::vector<std::string>{"ZAVR KA2/aircraft.cfg", "ZAVR KA2/panel/new.gau", "my.cfg"}));
}

TEST_F(SafeInstallTest, AProductWhoseFoldersTheFileSystemRefusesFailsAlone) {
    const std::string longName(300, 'n');
    sandbox.Publish(1002, 123, "ZAVR KA2/aircraft.cfg", test::kNewCfg);
    json longProductName = UpdateSandbox::Product(1001, longName);
    json longFolder = UpdateSandbox::Product(1001, "KA2 Orvane");
    longFolder["ZAVRFolderValue"] = longName;
    for (const json& first : {longProductName, longFolder}) {
        sandbox.PublishProducts(json::array({first, UpdateSandbox::Product(1002, "KA2 Liveries")}));
        sandbox.Install("1.1.0");
        const test::ProcessResult result = sandbox.Run();
        EXPECT_EQ(result.exitCode, kExitComplete) << result.out;
        EXPECT_TRUE(sandbox.LastRunLogHasStart("[ZAVR 2] Update terminated abnormally for " +
                                               first.at("ProdName").get<std::string>() + " for XSE: "))
            << result.out;
        EXPECT_TRUE(Has("[ZAVR 1] Installed products that failed to update: 1"));
        EXPECT_TRUE(Has("[ZAVR 1] Installed products successfully updated: 1"));
    }
}

// Killed with SIGKILL at moments spread over whole runs, each followed by a run that completes.
TEST(CrashTest, KilledAtAnyMomentThenRunAgainLosesNothing) {
    UpdateSandbox sandbox;
    sandbox.PublishProducts(json::array({UpdateSandbox::Product(1001, "KA2 Orvane")}));
    std::mt19937 random(7);
    const auto bytes = [&](std::size_t size) {
        std::string text(size, '\0');
        for (char& c : text) c = static_cast<char>(random());
        return text;
    };
    std::map<std::string, std::pair<std::string, std::string>> files;  // path: (installed, new)
    for (int i = 0; i < 3; ++i)
        files["ZAVR KA2/texture/t" + std::to_string(i) + ".bmp"] = {bytes(4 << 20), bytes(4 << 20)};
    for (int i = 0; i < 6; ++i) files["ZAVR KA2/cfg" + std::to_string(i) + ".txt"] = {bytes(100), bytes(120)};
    files["ZAVR KA2/added.gau"] = {std::string(), bytes(4096)};
    for (const auto& [path, content] : files) sandbox.Publish(1001, 123, path, content.second);
    const auto reset = [&] {
        fs::remove_all(sandbox.dataFolder);  // the log too: it then holds the next run's lines only
        fs::remove_all(sandbox.productFolder);
        fs::create_directories(sandbox.productFolder);
        for (const auto& [path, content] : files)
            if (!content.first.empty()) WriteFile(sandbox.simFolder + path, content.first);
        sandbox.Install("1.1.0");
    };
    std::vector<std::string> expectedFiles;
    for (const auto& entry : files) expectedFiles.push_back(entry.first);

    reset();
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(sandbox.Run().exitCode, kExitComplete);
    const auto whole = std::chrono::steady_clock::now() - start;
    int killedDownloading = 0, killedInstalling = 0, kills = 0;
    // Moments spread evenly over a whole run (a golden-ratio sequence), until 30 have fallen inside the two
    // phases and at least 5 inside each: how much of a run each phase takes depends on the machine (the
    // install phase is about an eighth of it here, start-up more under a sanitizer).
    constexpr int kInPhase = 30, kInEachPhase = 5, kMostKills = 120;
    const auto enough = [&] {
        return killedDownloading + killedInstalling >= kInPhase && killedDownloading >= kInEachPhase &&
               killedInstalling >= kInEachPhase;
    };
    for (int k = 1; !enough() && k <= kMostKills; ++k) {
        reset();
        test::ProcessLimits limits;
        const double fraction = std::fmod(k * 0.6180339887498949, 1.0);
        ++kills;
        limits.killAfter = std::chrono::duration_cast<std::chrono::microseconds>(whole * fraction);
        sandbox.Run({}, limits);
        const std::string log =
            fs::exists(sandbox.dataFolder + "zavr_updater_log.txt") ? sandbox.LogText() : "";
        if (log.find("*** Copy file") != std::string::npos)
            ++killedInstalling;
        else if (log.find("*** Downloading file") != std::string::npos)
            ++killedDownloading;
        for (const auto& [path, content] : files) {
            const std::string installed = sandbox.simFolder + path;
            if (fs::exists(installed)) {
                const std::string now = ReadFile(installed);
                EXPECT_TRUE(now == content.first || now == content.second) << "kill " << k << ": " << path;
            }
            if (fs::exists(sandbox.backupFolder + path)) {
                EXPECT_EQ(ReadFile(sandbox.backupFolder + path), content.first)
                    << "kill " << k << ": " << path;
            }
        }

        const test::ProcessResult again = sandbox.Run();
        ASSERT_EQ(again.exitCode, kExitComplete) << "kill " << k << "\n" << again.out;
        ASSERT_TRUE(sandbox.LastRunLogHas("[ZAVR 1] Installed products successfully updated: 1") ||
                    sandbox.LastRunLogHas("[ZAVR 1] 123 is the current version. No need to update."))
            << again.out;  // the latter when the kill came after the first run had finished
        for (const auto& [path, content] : files) {
            EXPECT_EQ(ReadFile(sandbox.simFolder + path), content.second) << "kill " << k << ": " << path;
            if (content.first.empty()) {
                EXPECT_FALSE(fs::exists(sandbox.backupFolder + path)) << "kill " << k << ": " << path;
            } else {
                EXPECT_EQ(ReadFile(sandbox.backupFolder + path), content.first)
                    << "kill " << k << ": " << path;
            }
        }
        EXPECT_EQ(test::FilesUnder(sandbox.simFolder), expectedFiles)
            << "kill " << k << ": no partial file left";
        EXPECT_EQ(sandbox.RegistryValue("HKEY_LOCAL_MACHINE", test::kUninstallKey, "DisplayVersion"),
                  "1.2.3");
    }
    EXPECT_TRUE(enough()) << kills << " kills: " << killedDownloading << " while downloading, "
                          << killedInstalling << " while installing";
    std::cout << kills << " kills; while downloading: " << killedDownloading
              << ", while installing: " << killedInstalling << "\n";
}

}  // namespace
}  // namespace zavr
