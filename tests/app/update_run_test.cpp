// Whole update runs of the real program against a real server, checked in the log, on disk and in
// the registry file.
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include "app/run.h"
#include "build_config.h"
#include "support/update_sandbox.h"

namespace zavr {
namespace {

using nlohmann::json;
using test::ReadFile;
using test::UpdateSandbox;

const char* const kHklm = "HKEY_LOCAL_MACHINE";

bool Exists(const std::string& path) {
    return boost::filesystem::exists(path);
}

class UpdateRunTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sandbox.PublishProducts(json::array({UpdateSandbox::Product(1001, "KA2 Orvane")}));
        sandbox.Publish(1001, 115, "ZAVR KA2/aircraft.cfg", "cfg of 1.1.5");
        sandbox.Publish(1001, 123, "ZAVR KA2/aircraft.cfg", "cfg of 1.2.3");
        sandbox.Publish(1001, 123, "ZAVR KA2/panel/new.gau", "new gauge");
        test::WriteFile(sandbox.productFolder + "aircraft.cfg", "cfg as installed");
        sandbox.Install("1.1.0");
    }

    UpdateSandbox sandbox;
};

TEST_F(UpdateRunTest, ReplacesAndAddsFilesBacksUpAndRecordsTheVersion) {
    const test::ProcessResult result = sandbox.Run();
    ASSERT_EQ(result.exitCode, kExitComplete) << result.out;
    const std::string& sim = sandbox.simFolder;
    EXPECT_EQ(
        sandbox.LastRunLog(),
        (std::vector<std::string>{
            "[ZAVR 1] ===== ZAVR updater commencing",
            "[ZAVR 1] Setting up for KA2 / XSE",
            "[ZAVR 1] ZAVR Updater: Version A18 - Build timestamp Sep 12 2017, 23:29:10",
            "[ZAVR 1] Finding installed ZAVR product version",
            "[ZAVR 1] Installed ZAVR product version: 110",
            "[ZAVR 1] Fetching available product information for XSE...",
            "[ZAVR 1] Retrieved data about ZAVR product 1001: KA2 Orvane for XSE",
            "[ZAVR 1] >>> Product: KA2 Orvane for XSE",
            "[ZAVR 1] Finding install-directory this product's simulator...",
            "[ZAVR 1] If a registry key error appears, disregard - it simply means you do not have that "
            "simulator installed.",
            "[ZAVR 1] Sim install directory in registry is " + sim,
            "[ZAVR 1] KA2 Orvane path should be " + sim + "ZAVR KA2/",
            "[ZAVR 1] Updating you to version 123",
            "[ZAVR 1] Product directory " + sim + "ZAVR KA2/ exists",
            "[ZAVR 1] Upstream says 2 new file(s) totaling 2KB",
            "[ZAVR 1] Your files are being updated. Depending on file size, this may take some time.",
            "[ZAVR 1] Need to update 2 file(s).",
            "[ZAVR 1] Total download size is 2KB.",
            "[ZAVR 1] *** Downloading file 1 of 2 ***",
            "[ZAVR 1] ZAVR KA2\\aircraft.cfg downloading.",
            "[ZAVR 1] Progress:",
            "[ZAVR 1] File 1 of 2 downloaded, passed integrity check.",
            "[ZAVR 1] *** Downloading file 2 of 2 ***",
            "[ZAVR 1] ZAVR KA2\\panel\\new.gau downloading.",
            "[ZAVR 1] Progress:",
            "[ZAVR 1] File 2 of 2 downloaded, passed integrity check.",
            "[ZAVR 1] *** Copy file 1 of 2 ***",
            "[ZAVR 1] Integrity OK: " + sim + "ZAVR KA2/aircraft.cfg",
            "[ZAVR 1] *** Copy file 2 of 2 ***",
            "[ZAVR 1] " + sim + "ZAVR KA2/panel does not exist; created.",
            "[ZAVR 1] Integrity OK: " + sim + "ZAVR KA2/panel/new.gau",
            "[ZAVR 1] Great, KA2 Orvane for XSE was successfully updated to the latest version!",
            "[ZAVR 1] Installed products that failed to update: 0",
            "[ZAVR 1] Installed products successfully updated: 1",
            "[ZAVR 1] Done.",
        }));
    EXPECT_EQ(ReadFile(sandbox.productFolder + "aircraft.cfg"), "cfg of 1.2.3");
    EXPECT_EQ(ReadFile(sandbox.productFolder + "panel/new.gau"), "new gauge");
    EXPECT_EQ(ReadFile(sandbox.backupFolder + "ZAVR KA2/aircraft.cfg"), "cfg as installed");
    EXPECT_FALSE(Exists(sandbox.backupFolder + "ZAVR KA2/panel/new.gau"))
        << "nothing to back up for a new file";
    EXPECT_EQ(ReadFile(sandbox.tempFolder + "ZAVR KA2/aircraft.cfg"), "cfg of 1.2.3") << "downloads stay";
    EXPECT_EQ(sandbox.RegistryValue(kHklm, test::kUninstallKey, "DisplayVersion"), "1.2.3");
    EXPECT_EQ(test::FilesUnder(sandbox.simFolder),
              (std::vector<std::string>{"ZAVR KA2/aircraft.cfg", "ZAVR KA2/panel/new.gau"}))
        << "no partial file is left";
    // Detail lines reach neither the console nor the file.
    for (const char* detail :
         {"This product using temp dir", "From remote: ", "OK: http", "Backed up ", "Reading ",
          "Temporary location", "Backup location", "Destination location", "Registry key "}) {
        EXPECT_EQ(result.out.find(detail), std::string::npos) << detail;
        EXPECT_EQ(sandbox.LogText().find(detail), std::string::npos) << detail;
    }
    EXPECT_EQ(result.out, sandbox.LogText());
}

TEST_F(UpdateRunTest, ARedirectedConsoleKeepsLogAndProgressLinesInOrder) {
    test::ProcessLimits limits;
    limits.errorToOutput = true;  // as "zavr-updater > out.txt 2>&1" does
    const test::ProcessResult result = sandbox.Run({}, limits);
    ASSERT_EQ(result.exitCode, kExitComplete) << result.out;
    const std::vector<std::string> lines = test::Lines(result.out);
    std::vector<std::string> progress;  // each file's progress line, with the lines around it
    for (std::size_t i = 1; i + 1 < lines.size(); ++i)
        if (lines[i].find("/s  in ") != std::string::npos)
            progress.push_back(lines[i - 1].substr(lines[i - 1].find('[')) + " | " +
                               lines[i].substr(0, lines[i].find(' ')) + " | " +
                               lines[i + 1].substr(lines[i + 1].find('[')));
    EXPECT_EQ(progress,
              (std::vector<std::string>{
                  "[ZAVR 1] Progress: | aircraft.cfg | [ZAVR 1] File 1 of 2 downloaded, passed "
                  "integrity check.",
                  "[ZAVR 1] Progress: | new.gau | [ZAVR 1] File 2 of 2 downloaded, passed integrity "
                  "check.",
              }))
        << result.out;
}

TEST_F(UpdateRunTest, ALaterRunReusesIntactDownloadsThenFindsItselfCurrent) {
    ASSERT_EQ(sandbox.Run().exitCode, kExitComplete);
    const std::size_t requestsBefore = sandbox.Server().Requests().size();
    sandbox.Install("1.1.0");  // as if the version record had been lost
    ASSERT_EQ(sandbox.Run().exitCode, kExitComplete);
    EXPECT_TRUE(sandbox.LastRunLogHas("[ZAVR 1] Existing file integrity OK: ZAVR KA2\\aircraft.cfg"));
    EXPECT_TRUE(sandbox.LastRunLogHas("[ZAVR 1] Existing file integrity OK: ZAVR KA2\\panel\\new.gau"));
    EXPECT_FALSE(sandbox.LastRunLogHas("[ZAVR 1] File 1 of 2 downloaded, passed integrity check."));
    const std::vector<std::string> requests = sandbox.Server().Requests();
    for (std::size_t i = requestsBefore; i < requests.size(); ++i)
        EXPECT_EQ(requests[i].find("/files/"), std::string::npos) << requests[i];
    EXPECT_EQ(ReadFile(sandbox.backupFolder + "ZAVR KA2/aircraft.cfg"), "cfg of 1.2.3")
        << "a later backup replaces the earlier one";

    sandbox.Install("1.2.3");
    ASSERT_EQ(sandbox.Run().exitCode, kExitComplete);
    EXPECT_TRUE(sandbox.LastRunLogHas("[ZAVR 1] 123 is the current version. No need to update."));
    EXPECT_TRUE(sandbox.LastRunLogHas("[ZAVR 1] Installed products successfully updated: 0"));
}

TEST_F(UpdateRunTest, A404MidListFailsTheProductAndKeepsEarlierDownloads) {
    sandbox.Server().Get("/files/XSE/KA2/1/ZAVR KA2/panel/new.gau",
                         [](const httplib::Request&, httplib::Response& r) {
                             r.status = 404;
                             r.set_content("gone", "text/plain");
                         });
    ASSERT_EQ(sandbox.Run().exitCode, kExitComplete);
    EXPECT_TRUE(sandbox.LastRunLogHas(
        "[ZAVR 2] Error in file download - server provided abnormal response code 404"));
    EXPECT_TRUE(
        sandbox.LastRunLogHas("[ZAVR 2] Update terminated abnormally for KA2 Orvane for XSE: Aborting file "
                              "download; see error above."));
    EXPECT_TRUE(sandbox.LastRunLogHas("[ZAVR 1] Installed products that failed to update: 1"));
    EXPECT_EQ(ReadFile(sandbox.tempFolder + "ZAVR KA2/aircraft.cfg"), "cfg of 1.2.3");
    EXPECT_EQ(ReadFile(sandbox.productFolder + "aircraft.cfg"), "cfg as installed");
    EXPECT_EQ(sandbox.RegistryValue(kHklm, test::kUninstallKey, "DisplayVersion"), "1.1.0");
}

TEST_F(UpdateRunTest, AnUpperCaseDigestNeverMatches) {
    sandbox.Server().Get("/filelist", [](const httplib::Request&, httplib::Response& r) {
        r.set_content(json::array({{{"Folder", "ZAVR KA2"},
                                    {"FilePath", "ZAVR KA2\\aircraft.cfg"},
                                    {"FileSize", 1},
                                    {"MD5Hash", "D41D8CD98F00B204E9800998ECF8427E"}}})
                          .dump(),
                      "application/json");
    });
    ASSERT_EQ(sandbox.Run().exitCode, kExitComplete);
    EXPECT_TRUE(
        sandbox.LastRunLogHas("[ZAVR 2] Update terminated abnormally for KA2 Orvane for XSE: Aborting file "
                              "download, a downloaded file has failed integrity-check."));
    EXPECT_EQ(ReadFile(sandbox.productFolder + "aircraft.cfg"), "cfg as installed");
}

TEST_F(UpdateRunTest, AFailedProductDoesNotStopTheNext) {
    sandbox.PublishProducts(json::array(
        {UpdateSandbox::Product(1001, "KA2 Orvane"), UpdateSandbox::Product(1002, "KA2 Liveries")}));
    sandbox.Publish(1002, 123, "ZAVR KA2/livery.bmp", "paint");
    sandbox.Server().Get("/files/XSE/KA2/1/ZAVR KA2/aircraft.cfg",
                         [](const httplib::Request&, httplib::Response& r) {
                             r.status = 500;
                             r.set_content("<html>broken</html>", "text/html");
                         });
    ASSERT_EQ(sandbox.Run().exitCode, kExitComplete);
    EXPECT_TRUE(sandbox.LastRunLogHas("[ZAVR 1] Installed products that failed to update: 1"));
    EXPECT_TRUE(sandbox.LastRunLogHas("[ZAVR 1] Installed products successfully updated: 1"));
    EXPECT_TRUE(sandbox.LastRunLogHas(
        "[ZAVR 1] Great, KA2 Liveries for XSE was successfully updated to the latest version!"));
    EXPECT_EQ(ReadFile(sandbox.productFolder + "livery.bmp"), "paint");
    EXPECT_EQ(sandbox.RegistryValue(kHklm, test::kUninstallKey, "DisplayVersion"), "1.2.3");
}

TEST_F(UpdateRunTest, ASimulatorThatIsNotInstalledIsSkipped) {
    sandbox.Install("1.1.0", false);
    ASSERT_EQ(sandbox.Run().exitCode, kExitComplete);
    EXPECT_TRUE(sandbox.LastRunLogHas("[ZAVR 2] Failed to open registry key!"));
    EXPECT_TRUE(
        sandbox.LastRunLogHas("[ZAVR 1] I found no sim install corresponding to product ID 1001; skipping."));
    EXPECT_TRUE(sandbox.LastRunLogHas("[ZAVR 1] Installed products that failed to update: 0"));
    EXPECT_TRUE(sandbox.LastRunLogHas("[ZAVR 1] Installed products successfully updated: 0"));
    EXPECT_TRUE(boost::filesystem::is_directory(sandbox.tempFolder))
        << "made before the simulator is looked for";
}

TEST_F(UpdateRunTest, VersionDecisions) {
    const std::string site = ZAVR_MAKER_SITE;
    const struct {
        const char* installed;
        int min, prod;
        bool folder;
        std::vector<std::string> expected;
    } cases[] = {
        {"0.9.0",
         100,
         123,
         true,
         {"[ZAVR 1] 90 is out-dated and must be updated with the full installer.",
          "[ZAVR 1] Please check to ensure that you have updated to the minimum version.",
          "[ZAVR 1] Log into your account at " + site +
              ", click on 'View Previous Orders' and then your order number."}},
        {"1.2.3", 100, 123, true, {"[ZAVR 1] 123 is the current version. No need to update."}},
        {"1.3.0", 100, 123, true, {"[ZAVR 1] 130 is the current version. No need to update."}},
        {"1.1.0",
         100,
         123,
         false,
         {"[ZAVR 1] Product directory " + sandbox.productFolder + " does not exist; not updating.",
          "[ZAVR 2] What to do: install the add-on again with its full installer, which makes that folder, "
          "then "
          "run me again."}},
        // A minimum above the current version: below it out-dated, anything else current; never an update.
        {"2.1.0", 200, 150, true, {"[ZAVR 1] 210 is the current version. No need to update."}},
        {"1.6.0", 200, 150, true, {"[ZAVR 1] 160 is out-dated and must be updated with the full installer."}},
        {"1.0.0",
         100,
         123,
         true,
         {"[ZAVR 1] Updating you to version 123", "[ZAVR 1] Installed products successfully updated: 1"}},
    };
    for (const auto& c : cases) {
        sandbox.PublishProducts(json::array({UpdateSandbox::Product(1001, "KA2 Orvane", c.prod, c.min)}));
        sandbox.Install(c.installed);
        if (c.folder)
            boost::filesystem::create_directories(sandbox.productFolder);
        else
            boost::filesystem::remove_all(sandbox.productFolder);
        ASSERT_EQ(sandbox.Run().exitCode, kExitComplete);
        for (const std::string& line : c.expected)
            EXPECT_TRUE(sandbox.LastRunLogHas(line)) << c.installed << ": " << line;
        if (c.expected.front().rfind("[ZAVR 1] Updating you", 0) != 0) {  // no update
            EXPECT_TRUE(sandbox.LastRunLogHas("[ZAVR 1] Installed products successfully updated: 0"))
                << c.installed;
            EXPECT_FALSE(sandbox.LastRunLogHas("[ZAVR 1] Updating you to version " + std::to_string(c.prod)));
        }
    }
}

TEST_F(UpdateRunTest, AnEmptyFileListSucceedsWithoutRecordingTheVersion) {
    // Version 124 is announced, but no file of the release lies above the installed 123.
    sandbox.PublishProducts(json::array({UpdateSandbox::Product(1001, "KA2 Orvane", 124)}));
    sandbox.Install("1.2.3");
    ASSERT_EQ(sandbox.Run().exitCode, kExitComplete);
    EXPECT_TRUE(sandbox.LastRunLogHas("[ZAVR 1] Upstream says 0 new file(s) totaling 0KB"));
    EXPECT_TRUE(sandbox.LastRunLogHas("[ZAVR 1] Installed products successfully updated: 1"));
    for (const std::string& line : sandbox.LastRunLog())
        EXPECT_EQ(line.find("*** "), std::string::npos) << line;
    EXPECT_EQ(sandbox.RegistryValue(kHklm, test::kUninstallKey, "DisplayVersion"), "1.2.3");
}

TEST_F(UpdateRunTest, AVersionThatCannotBeRecordedIsAFailureThatTheNextRunMends) {
    boost::filesystem::create_directories(sandbox.registryFile + ".lock");  // no lock can be taken
    ASSERT_EQ(sandbox.Run().exitCode, kExitComplete);
    EXPECT_TRUE(sandbox.LastRunLogHas(
        "[ZAVR 2] Update terminated abnormally for KA2 Orvane for XSE: The new files are in place, but the "
        "new "
        "version could not be recorded (see above); run the updater again to record it."));
    EXPECT_FALSE(sandbox.LastRunLogHasStart("[ZAVR 1] Great, "));
    EXPECT_TRUE(sandbox.LastRunLogHas("[ZAVR 1] Installed products that failed to update: 1"));
    EXPECT_TRUE(sandbox.LastRunLogHas("[ZAVR 1] Installed products successfully updated: 0"));
    EXPECT_EQ(sandbox.RegistryValue(kHklm, test::kUninstallKey, "DisplayVersion"), "1.1.0");
    EXPECT_TRUE(Exists(sandbox.tempFolder + "Backup/zavr-install-1001.json")) << "the journal stays";

    boost::filesystem::remove(sandbox.registryFile + ".lock");
    ASSERT_EQ(sandbox.Run().exitCode, kExitComplete);
    EXPECT_TRUE(sandbox.LastRunLogHas("[ZAVR 1] Installed products successfully updated: 1"));
    EXPECT_EQ(sandbox.RegistryValue(kHklm, test::kUninstallKey, "DisplayVersion"), "1.2.3");
    EXPECT_EQ(ReadFile(sandbox.backupFolder + "ZAVR KA2/aircraft.cfg"), "cfg as installed");
}

}  // namespace
}  // namespace zavr
