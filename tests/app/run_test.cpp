// Whole passes of the real program, in a sandbox of its own.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "app/run.h"
#include "build_config.h"
#include "support/http_server.h"
#include "support/process.h"
#include "support/sandbox.h"
#include "support/update_sandbox.h"

namespace zavr {
namespace {

using test::LogEntries;
using test::ReadFile;
using test::TempDir;

class RunTest : public ::testing::Test {
  protected:
    test::ProcessResult Run(std::map<std::string, std::string> env = {}) {
        env.emplace("APPDATA", dir.Path());
        env.emplace("ZAVR_REGISTRY", dir / "registry.json");
        // The server's address is built into the program; the test server stands in as its proxy.
        env.emplace("http_proxy", server.ProxyAddress());
        return test::RunProcess(ZAVR_UPDATER_EXE, {}, env);
    }
    std::string LogText() { return ReadFile(dir / "ZAVR/ZAVR Orvane/Updater/zavr_updater_log.txt"); }

    TempDir dir;
    test::TestServer server;
};

TEST_F(RunTest, FindsTheInstalledVersion) {
    test::WriteFile(
        dir / "registry.json",
        nlohmann::json({{"HKEY_LOCAL_MACHINE", {{test::kUninstallKey, {{"DisplayVersion", "1.2.3"}}}}}})
            .dump());
    server.Get("/products/XSE/KA2/1.json", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("[]", "application/json");
    });
    server.Start();
    const test::ProcessResult result = Run();
    EXPECT_EQ(result.exitCode, kExitComplete) << result.out;
    const std::vector<std::string> expected = {
        "[ZAVR 1] ===== ZAVR updater commencing",
        "[ZAVR 1] Setting up for KA2 / XSE",
        "[ZAVR 1] ZAVR Updater: Version A18 - Build timestamp Sep 12 2017, 23:29:10",
        "[ZAVR 1] Finding installed ZAVR product version",
        "[ZAVR 1] Installed ZAVR product version: 123",
    };
    const std::vector<std::string> logged = LogEntries(LogText());
    ASSERT_GE(logged.size(), expected.size());
    EXPECT_EQ(std::vector<std::string>(logged.begin(), logged.begin() + expected.size()), expected);
    EXPECT_EQ(result.out, LogText()) << "the console shows the same lines as the file";
    for (const char* detail : {"Reading ", "Registry value: ", "located and read"}) {
        EXPECT_EQ(result.out.find(detail), std::string::npos) << detail;
        EXPECT_EQ(LogText().find(detail), std::string::npos) << detail;
    }
}

TEST_F(RunTest, UnknownSimulatorEndsWithStatusOneAfterThreeLines) {
    test::ScopedEnv appData("APPDATA", dir.Path());
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(RunUpdater("KA2", "xse"), kExitCatalogueFailed);
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(LogEntries(LogText()), (std::vector<std::string>{
                                         "[ZAVR 1] ===== ZAVR updater commencing",
                                         "[ZAVR 1] Setting up for KA2 / xse",
                                         "[ZAVR 2] Unable to initialize application, unknown sim xse",
                                     }));
}

TEST_F(RunTest, NoDataFolderEndsWithStatusTwoAndASentence) {
    test::ProcessResult result = test::RunProcess(ZAVR_UPDATER_EXE, {}, {});
    EXPECT_EQ(result.exitCode, kExitError);
    EXPECT_NE(result.out.find("I cannot tell where to keep my log and files"), std::string::npos)
        << result.out;

    test::WriteFile(dir / "blocker", "");
    result = Run({{"APPDATA", dir / "blocker"}});
    EXPECT_EQ(result.exitCode, kExitError);
    EXPECT_EQ(result.out.rfind(
                  "Error: cannot create directory " + dir / "blocker" + "/ZAVR/ZAVR Orvane/Updater/", 0),
              0u)
        << result.out;
}

TEST(BinaryTest, HoldsNoPlainServerAddress) {
    const std::string binary = ReadFile(ZAVR_UPDATER_EXE);
    EXPECT_EQ(binary.find(ZAVR_UPDATE_SERVER), std::string::npos);
    EXPECT_NE(binary.find("Unable to initialize application, unknown sim "), std::string::npos)
        << "read the binary";
}

}  // namespace
}  // namespace zavr
