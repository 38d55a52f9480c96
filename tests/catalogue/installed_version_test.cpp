#include "catalogue/installed_version.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "app/updater.h"
#include "support/sandbox.h"

namespace zavr {
namespace {

TEST(VersionFromTextTest, DotsGoAndTheDigitsAreOneNumber) {
    EXPECT_EQ(VersionFromText("1.2.3"), 123);
    EXPECT_EQ(VersionFromText("1.10.25"), 11025);
    EXPECT_EQ(VersionFromText("1.10.0"), VersionFromText("1.1.00"));
    EXPECT_EQ(VersionFromText("1.2.3/"), 123) << "the appended separator ends the number";
    EXPECT_EQ(VersionFromText(" \t12"), 12);
    EXPECT_EQ(VersionFromText("v1.2"), 0);
    EXPECT_EQ(VersionFromText(""), 0);
    EXPECT_EQ(VersionFromText("+7"), 7);
    EXPECT_EQ(VersionFromText("-1.5"), -15);
    EXPECT_EQ(VersionFromText("- 5"), 0);
    EXPECT_EQ(VersionFromText("1.20.300.45678"), 2147483647);
    EXPECT_EQ(VersionFromText("2147483647"), 2147483647);
    EXPECT_EQ(VersionFromText("-2147483648"), -2147483647 - 1);
    EXPECT_EQ(VersionFromText("-99999999999999999999999"), -2147483647 - 1);
}

TEST(FindInstalledVersionTest, ReadsOnlyTheRunsOwnKey) {
    test::TempDir dir;
    test::ScopedEnv env("ZAVR_REGISTRY", dir / "registry.json");
    Updater updater;
    updater.uninstallKey = "Uninstall\\{MINE}";
    test::WriteFile(dir / "registry.json",
                    nlohmann::json({{"HKEY_LOCAL_MACHINE",
                                     {{"Uninstall\\{MINE}", {{"DisplayVersion", "1.2.3"}}},
                                      {"Uninstall\\{OTHER}", {{"DisplayVersion", "9.9.9"}}}}}})
                        .dump());
    ::testing::internal::CaptureStdout();
    updater.FindInstalledVersion();
    EXPECT_EQ(test::LogEntries(::testing::internal::GetCapturedStdout()),
              (std::vector<std::string>{"[ZAVR 1] Finding installed ZAVR product version",
                                        "[ZAVR 1] Installed ZAVR product version: 123"}));
    EXPECT_EQ(updater.installedVersion, 123);

    updater.uninstallKey = "Uninstall\\{ABSENT}";
    ::testing::internal::CaptureStdout();
    updater.FindInstalledVersion();
    EXPECT_EQ(test::LogEntries(::testing::internal::GetCapturedStdout()),
              (std::vector<std::string>{"[ZAVR 1] Finding installed ZAVR product version",
                                        "[ZAVR 2] Failed to open registry key!",
                                        "[ZAVR 1] Installed ZAVR product version: 0"}));
    EXPECT_EQ(updater.installedVersion, 0);
}

}  // namespace
}  // namespace zavr
