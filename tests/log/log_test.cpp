#include "log/log.h"

#include <gtest/gtest.h>

#include <boost/filesystem.hpp>
#include <regex>

#include "log/held_lines.h"
#include "support/sandbox.h"

namespace zavr {
namespace {

using test::LogEntries;
using test::ReadFile;
using test::ScopedEnv;
using test::TempDir;

class LogTest : public ::testing::Test {
  protected:
    void OpenIn(const std::string& appData) {
        ScopedEnv env("APPDATA", appData);
        OpenLog();
    }
    std::string LogText() { return ReadFile(LogFilePath()); }

    TempDir dir;
};

TEST_F(LogTest, LinesCarryTimeLevelAndTextOnFileAndConsole) {
    OpenIn(dir.Path());
    EXPECT_EQ(LogFilePath(), dir.Path() + "/ZAVR/ZAVR Orvane/Updater/zavr_updater_log.txt");
    ::testing::internal::CaptureStdout();
    WriteLog(1, "Done.");
    WriteLog(0, "detail that nobody sees");
    WriteLog(2, "");
    WriteLog(-3, "odd level");
    WriteLog(1, "two\nlines\x1b[31m");
    const std::string console = ::testing::internal::GetCapturedStdout();

    const std::string text = LogText();
    EXPECT_EQ(text, console);
    EXPECT_TRUE(std::regex_match(test::Lines(text).at(0),
                                 std::regex(R"(\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2} \[ZAVR 1\] Done\.)")));
    EXPECT_EQ(LogEntries(text),
              (std::vector<std::string>{"[ZAVR 1] Done.", "[ZAVR 2] ", "[ZAVR -3] odd level",
                                        "[ZAVR 1] two\\x0alines\\x1b[31m"}))
        << "a text never begins a line of its own, nor steers the console";
    EXPECT_EQ(text.find("detail"), std::string::npos);
}

TEST_F(LogTest, HeldLinesReadAsLiveOnesAroundTheirConsoleLine) {
    OpenIn(dir.Path());
    const auto write = [](HeldLines& lines) {
        lines.Log(1, "*** Downloading file 1 of 2 ***");
        lines.Log(0, "detail");
        lines.Log(2, "bad\nname");
        lines.Console("f1.bin 100%");
        lines.Log(1, "File 1 of 2 downloaded, passed integrity check.");
    };
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    HeldLines live(true);
    write(live);
    HeldLines held;
    write(held);
    const std::string console = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "f1.bin 100%\n");
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    held.Release();
    EXPECT_EQ(LogEntries(::testing::internal::GetCapturedStdout()), LogEntries(console));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "f1.bin 100%\n");
    EXPECT_EQ(LogEntries(LogText()).size(), 6u) << "each line once in the file";
}

TEST_F(LogTest, EachOpenAppendsAfterWhatIsThere) {
    OpenIn(dir.Path());
    ::testing::internal::CaptureStdout();
    WriteLog(1, "first run");
    OpenIn(dir.Path());
    WriteLog(1, "second run");
    ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(LogEntries(LogText()), (std::vector<std::string>{"[ZAVR 1] first run", "[ZAVR 1] second run"}));
}

TEST_F(LogTest, UnopenableLogFileLeavesTheConsole) {
    // A folder where the log file should be: the open fails and lines reach the console only.
    test::WriteFile(dir / "ZAVR/ZAVR Orvane/Updater/zavr_updater_log.txt/blocker", "");
    OpenIn(dir.Path());
    ::testing::internal::CaptureStdout();
    WriteLog(1, "still shown");
    EXPECT_NE(::testing::internal::GetCapturedStdout().find("[ZAVR 1] still shown\n"), std::string::npos);
}

TEST(UpdaterFolderTest, FallsBackFromAppDataToXdgToHome) {
    ScopedEnv appData("APPDATA", std::string("/a"));
    ScopedEnv xdg("XDG_DATA_HOME", std::string("/x"));
    ScopedEnv home("HOME", std::string("/h"));
    EXPECT_EQ(UpdaterFolder(), "/a/ZAVR/ZAVR Orvane/Updater/");
    {
        ScopedEnv unsetAppData("APPDATA", std::nullopt);
        EXPECT_EQ(UpdaterFolder(), "/x/ZAVR/ZAVR Orvane/Updater/");
        ScopedEnv unsetXdg("XDG_DATA_HOME", std::nullopt);
        EXPECT_EQ(UpdaterFolder(), "/h/.local/share/ZAVR/ZAVR Orvane/Updater/");
        ScopedEnv unsetHome("HOME", std::nullopt);
        ::testing::internal::CaptureStdout();
        EXPECT_THROW(UpdaterFolder(), std::runtime_error);
        EXPECT_NE(
            ::testing::internal::GetCapturedStdout().find("none of APPDATA, XDG_DATA_HOME and HOME is set"),
            std::string::npos);
    }
}

TEST(EnsureDirectoryTest, CreatesParentsAndAcceptsAnExistingFolder) {
    TempDir dir;
    const std::string path = dir / "a/b/c/";
    EnsureDirectory(path);
    EXPECT_TRUE(boost::filesystem::is_directory(path));
    ::testing::internal::CaptureStdout();
    EnsureDirectory(path);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
}

TEST(EnsureDirectoryTest, AFileInTheWayIsReportedAndRaised) {
    TempDir dir;
    test::WriteFile(dir / "file", "x");
    for (const std::string& path : {dir / "file", dir / "file/sub/"}) {
        ::testing::internal::CaptureStdout();
        try {
            EnsureDirectory(path);
            ADD_FAILURE() << "no error for " << path;
        } catch (const std::runtime_error& error) {
            const std::string message = error.what();
            EXPECT_EQ(message.rfind("Error: cannot create directory " + path + ", error code ", 0), 0u)
                << message;
            EXPECT_EQ(::testing::internal::GetCapturedStdout(), message + "\n");
        }
    }
}

}  // namespace
}  // namespace zavr
