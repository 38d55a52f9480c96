// The install phase on real files: an installed file is replaced whole or not at all.
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>

#include "files/install_phase.h"
#include "support/sandbox.h"

namespace zavr {
namespace {

using nlohmann::json;
using test::ReadFile;
using test::WriteFile;

const char* const kNewDigest = "22af645d1859cb5ca6da0c484f1f37ea";  // of "new"

class InstallPhaseTest : public ::testing::Test {
  protected:
    void SetUp() override {
        WriteFile(temp + "P/file.dat", "new");
        WriteFile(sim + "P/file.dat", "installed");
    }
    static json Entry(const std::string& path, const std::string& digest) {
        return {{"Folder", "P"}, {"FilePath", "P\\" + path}, {"FileSize", 1}, {"MD5Hash", digest}};
    }
    int Install(std::string* console) {
        ::testing::internal::CaptureStdout();
        try {
            const int installed = InstallFiles(downloader, manifest, place);
            *console = ::testing::internal::GetCapturedStdout();
            return installed;
        } catch (...) {
            *console = ::testing::internal::GetCapturedStdout();
            throw;
        }
    }
    void ExpectInstalledUnchanged() {
        EXPECT_EQ(ReadFile(sim + "P/file.dat"), "installed");
        EXPECT_EQ(ReadFile(temp + "Backup/KA2/XSE/P/file.dat"), "installed");
        for (const auto& entry : boost::filesystem::directory_iterator(sim + "P"))
            EXPECT_EQ(entry.path().filename(), "file.dat") << "no partial file is left";
    }

    test::TempDir dir;
    std::string temp = dir / "temp/";
    std::string sim = dir / "sim/";
    Downloader downloader;
    json manifest;
    InstallPlace place{temp, BackupRoot(temp, "KA2", "XSE"), sim, 1001, 110, 123};
};

TEST_F(InstallPhaseTest, InstallsBacksUpAndCounts) {
    WriteFile(temp + "P/added.dat", "new");
    manifest = json::array({Entry("file.dat", kNewDigest), Entry("added.dat", kNewDigest)});
    std::string console;
    EXPECT_EQ(Install(&console), 2);
    EXPECT_EQ(test::LogEntries(console), (std::vector<std::string>{
                                             "[ZAVR 1] *** Copy file 1 of 2 ***",
                                             "[ZAVR 1] Integrity OK: " + sim + "P/file.dat",
                                             "[ZAVR 1] *** Copy file 2 of 2 ***",
                                             "[ZAVR 1] Integrity OK: " + sim + "P/added.dat",
                                         }));
    EXPECT_EQ(ReadFile(sim + "P/file.dat"), "new");
    EXPECT_EQ(ReadFile(temp + "Backup/KA2/XSE/P/file.dat"), "installed");
    EXPECT_FALSE(boost::filesystem::exists(temp + "Backup/KA2/XSE/P/added.dat"));
}

TEST_F(InstallPhaseTest, AnEmptyOrNullListInstallsNothing) {
    for (const json& list : {json::array(), json()}) {
        manifest = list;
        std::string console;
        EXPECT_EQ(Install(&console), 0);
        EXPECT_EQ(console, "");
    }
}

TEST_F(InstallPhaseTest, ACopyThatFailsItsCheckLeavesTheInstalledFile) {
    manifest = json::array({Entry("file.dat", "0123456789abcdef0123456789abcdef")});
    std::string console;
    try {
        Install(&console);
        FAIL() << "no error";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Aborting file copy, a file has failed integrity-check after copying.");
    }
    ExpectInstalledUnchanged();
}

TEST_F(InstallPhaseTest, AMissingDownloadLeavesTheInstalledFile) {
    boost::filesystem::remove(temp + "P/file.dat");
    manifest = json::array({Entry("file.dat", kNewDigest)});
    std::string console;
    EXPECT_THROW(Install(&console), boost::filesystem::filesystem_error);
    ExpectInstalledUnchanged();
}

TEST_F(InstallPhaseTest, AFolderWhereTheBackupTreeShouldBeIsReported) {
    WriteFile(temp + "Backup", "a file in the way");
    manifest = json::array({Entry("file.dat", kNewDigest)});
    std::string console;
    EXPECT_THROW(Install(&console), std::runtime_error);
    EXPECT_EQ(ReadFile(sim + "P/file.dat"), "installed");
}

}  // namespace
}  // namespace zavr
