#include "catalogue/registry.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <nlohmann/json.hpp>

#include "support/sandbox.h"

namespace zavr {
namespace {

using nlohmann::json;
using test::ReadFile;
using test::ScopedEnv;
using test::TempDir;
using test::WriteFile;

const std::string kKey = "Software\\Sim\\XSE";

class RegistryTest : public ::testing::Test {
  protected:
    void Store(const json& content) { WriteFile(file, content.dump()); }
    json Stored() { return json::parse(ReadFile(file)); }
    // Reads and returns the value, with the console lines of the read in *console.
    std::string Read(RegistryRoot root, const std::string& key, const std::string& name,
                     std::string* console) {
        ::testing::internal::CaptureStdout();
        const std::string value = ReadRegistryString(root, key, name);
        *console = ::testing::internal::GetCapturedStdout();
        return value;
    }
    std::string Write(RegistryRoot root, const std::string& key, const std::string& name,
                      const std::string& data) {
        ::testing::internal::CaptureStdout();
        WriteRegistryString(root, key, name, data);
        return ::testing::internal::GetCapturedStdout();
    }

    TempDir dir;
    std::string file = dir / "registry.json";
    ScopedEnv env{"ZAVR_REGISTRY", file};
};

TEST_F(RegistryTest, ReadValuesGetOneTrailingSeparator) {
    Store({{"HKEY_CURRENT_USER",
            {{kKey, {{"AppPath", "/sim"}, {"Slashed", "/sim/"}, {"Empty", ""}, {"Version", "1.2.3"}}}}}});
    std::string console;
    EXPECT_EQ(Read(RegistryRoot::CurrentUser, kKey, "AppPath", &console), "/sim/");
    EXPECT_EQ(console, "") << "a successful read logs only detail lines";
    EXPECT_EQ(Read(RegistryRoot::CurrentUser, kKey, "Slashed", &console), "/sim/");
    EXPECT_EQ(Read(RegistryRoot::CurrentUser, kKey, "Empty", &console), "");
    EXPECT_EQ(Read(RegistryRoot::CurrentUser, kKey, "Version", &console), "1.2.3/");
    EXPECT_EQ(Read(RegistryRoot::LocalMachine, kKey, "AppPath", &console), "") << "roots are apart";
}

TEST_F(RegistryTest, NamesCompareWithoutLetterCase) {
    Store({{"HKEY_CURRENT_USER", {{kKey, {{"AppPath", "/sim"}}}}}});
    std::string console;
    EXPECT_EQ(Read(RegistryRoot::CurrentUser, "SOFTWARE\\sim\\xse", "apppath", &console), "/sim/");
    Write(RegistryRoot::CurrentUser, "software\\SIM\\Xse", "APPPATH", "/other");
    EXPECT_EQ(Stored(), json({{"HKEY_CURRENT_USER", {{kKey, {{"AppPath", "/other"}}}}}}))
        << "a write keeps the stored spelling";
}

TEST_F(RegistryTest, LongestReadableValueHas449Characters) {
    Store({{"HKEY_LOCAL_MACHINE",
            {{kKey, {{"Long", std::string(449, 'x')}, {"TooLong", std::string(450, 'x')}}}}}});
    std::string console;
    EXPECT_EQ(Read(RegistryRoot::LocalMachine, kKey, "Long", &console), std::string(449, 'x') + "/");
    EXPECT_EQ(Read(RegistryRoot::LocalMachine, kKey, "TooLong", &console), "");
    EXPECT_NE(console.find("[ZAVR 2] Registry key was located but could not be read!\n"), std::string::npos);
}

TEST_F(RegistryTest, MissingValueAndMissingKeyAreToldApart) {
    Store({{"HKEY_LOCAL_MACHINE", {{kKey, {{"Number", 5}}}}}});
    std::string console;
    for (const char* name : {"Absent", "Number"}) {
        EXPECT_EQ(Read(RegistryRoot::LocalMachine, kKey, name, &console), "");
        EXPECT_NE(console.find("[ZAVR 2] Registry key was located but could not be read!\n"),
                  std::string::npos);
    }
    EXPECT_EQ(Read(RegistryRoot::LocalMachine, "Software\\Other", "Absent", &console), "");
    EXPECT_NE(console.find("[ZAVR 2] Failed to open registry key!\n"), std::string::npos);
    ScopedEnv missingFile("ZAVR_REGISTRY", dir / "none.json");
    EXPECT_EQ(Read(RegistryRoot::LocalMachine, kKey, "Absent", &console), "");
    EXPECT_NE(console.find("[ZAVR 2] Failed to open registry key!\n"), std::string::npos);
}

TEST_F(RegistryTest, WriteCreatesTheKeyAndTheFile) {
    ScopedEnv fresh("ZAVR_REGISTRY", dir / "new/folder/registry.json");
    const std::string console =
        Write(RegistryRoot::LocalMachine, kKey, "DisplayVersion", std::string("1.5\0junk", 8));
    EXPECT_NE(console.find("[ZAVR 1] Creating registry key: " + kKey + "\n"), std::string::npos);
    EXPECT_EQ(console.find("[ZAVR 2]"), std::string::npos);
    EXPECT_EQ(json::parse(ReadFile(dir / "new/folder/registry.json")),
              json({{"HKEY_LOCAL_MACHINE", {{kKey, {{"DisplayVersion", "1.5"}}}}}}));
    EXPECT_EQ(Write(RegistryRoot::LocalMachine, kKey, "DisplayVersion", "1.6").find("Creating"),
              std::string::npos);
}

TEST_F(RegistryTest, FileNamedByXdgConfigHomeOrHome) {
    ScopedEnv unset("ZAVR_REGISTRY", std::nullopt);
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", dir / "xdg");
        Write(RegistryRoot::CurrentUser, kKey, "V", "x");
        EXPECT_TRUE(boost::filesystem::exists(dir / "xdg/zavr/registry.json"));
    }
    ScopedEnv noXdg("XDG_CONFIG_HOME", std::nullopt);
    ScopedEnv home("HOME", dir / "home");
    Write(RegistryRoot::CurrentUser, kKey, "V", "x");
    EXPECT_TRUE(boost::filesystem::exists(dir / "home/.config/zavr/registry.json"));
}

TEST_F(RegistryTest, CorruptFileIsReportedAndNeverOverwritten) {
    for (const std::string& content :
         {std::string("{not json"), std::string(R"({"HKEY_CURRENT_USER": [1]})"),
          std::string(R"({"HKEY_CURRENT_USER": {"K": "v"}})"), std::string("[]")}) {
        WriteFile(file, content);
        std::string console;
        EXPECT_EQ(Read(RegistryRoot::CurrentUser, "K", "v", &console), "");
        EXPECT_NE(console.find("[ZAVR 2] The registry file " + file + " is not"), std::string::npos)
            << console;
        EXPECT_LT(console.find("[ZAVR 2] The registry file"),
                  console.find("[ZAVR 2] Failed to open registry key!\n"))
            << "what is wrong with the file, then the failure";
        console = Write(RegistryRoot::CurrentUser, "K", "v", "new");
        EXPECT_NE(console.find("[ZAVR 2] Failed to open registry key for writing!\n"), std::string::npos);
        EXPECT_EQ(ReadFile(file), content);
    }
}

TEST_F(RegistryTest, ALockHeldElsewhereFailsTheWriteWithinSecondsAndChangesNothing) {
    WriteFile(file, R"({"HKEY_LOCAL_MACHINE": {"K": {"V": "old"}}})");
    const int holder = ::open((file + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);  // another open file: as another program's lock
    const std::string console = Write(RegistryRoot::LocalMachine, "K", "V", "new");
    ::close(holder);
    EXPECT_NE(
        console.find("[ZAVR 2] I cannot lock the registry file " + file +
                     ": another program holds its lock " + file + ".lock and has not let go in 5 seconds.\n"),
        std::string::npos)
        << console;
    EXPECT_NE(console.find("[ZAVR 2] Failed to open registry key for writing!\n"), std::string::npos);
    EXPECT_EQ(ReadFile(file), R"({"HKEY_LOCAL_MACHINE": {"K": {"V": "old"}}})");
}

TEST_F(RegistryTest, ConcurrentWritersFromTwoProcessesBothSurvive) {
    constexpr int kWrites = 40;
    pid_t children[2];
    for (int child = 0; child < 2; ++child) {
        children[child] = ::fork();
        ASSERT_GE(children[child], 0);
        if (children[child] == 0) {
            for (int i = 0; i < kWrites; ++i)
                WriteRegistryValue(RegistryRoot::LocalMachine, "Writer" + std::to_string(child),
                                   "V" + std::to_string(i), std::to_string(i));
            ::_exit(0);
        }
    }
    for (pid_t pid : children) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const json stored = Stored();
    for (int child = 0; child < 2; ++child)
        for (int i = 0; i < kWrites; ++i)
            EXPECT_EQ(stored.at("HKEY_LOCAL_MACHINE")
                          .at("Writer" + std::to_string(child))
                          .at("V" + std::to_string(i)),
                      std::to_string(i));
}

}  // namespace
}  // namespace zavr
