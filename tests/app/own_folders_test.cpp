// What the updater reads back from its own folders is input, since other programs of the user can write
// there: a planted journal, partial file or temporary name never makes it delete, overwrite or quote a
// file that is not its own, never hangs it, and never wedges later updates.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <functional>

#include "app/run.h"
#include "support/update_sandbox.h"

namespace zavr {
namespace {

namespace fs = boost::filesystem;
using nlohmann::json;
using test::ReadFile;
using test::UpdateSandbox;
using test::WriteFile;

class OwnFoldersTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sandbox.PublishProducts(json::array({UpdateSandbox::Product(1001, "KA2 Orvane")}));
        sandbox.Publish(1001, 123, "ZAVR KA2/aircraft.cfg", test::kNewCfg);
        sandbox.Start();
        limits.killAfter = std::chrono::seconds(60);  // a FIFO waited on would hang the run for ever
    }
    // Each case starts from the installed product and no temporary tree; the user's files are back.
    void Reset() {
        fs::remove_all(sandbox.dataFolder);
        fs::create_directories(sandbox.tempFolder + "Backup");
        fs::create_directories(sandbox.tempFolder + "ZAVR KA2");
        WriteFile(sandbox.productFolder + "aircraft.cfg", test::kOldCfg);
        WriteFile(userFile, "the user's own");
        WriteFile(simFile, "mine");
        sandbox.Install("1.1.0");
    }
    std::string Version() {
        return sandbox.RegistryValue("HKEY_LOCAL_MACHINE", test::kUninstallKey, "DisplayVersion");
    }
    // The run either updated the product or failed it with message; the user's files keep their bytes.
    void ExpectOutcome(const test::ProcessResult& result, const std::string& message) {
        EXPECT_EQ(result.exitCode, kExitComplete) << result.out;
        EXPECT_EQ(ReadFile(userFile), "the user's own");
        EXPECT_EQ(ReadFile(simFile), "mine");
        EXPECT_EQ(result.out.find("secret"), std::string::npos) << "nothing of a planted file is quoted";
        if (message.empty()) {
            EXPECT_TRUE(sandbox.LastRunLogHas("[ZAVR 1] Installed products successfully updated: 1"))
                << result.out;
            EXPECT_EQ(ReadFile(sandbox.productFolder + "aircraft.cfg"), test::kNewCfg);
            EXPECT_EQ(ReadFile(sandbox.backupFolder + "ZAVR KA2/aircraft.cfg"), test::kOldCfg);
            EXPECT_EQ(Version(), "1.2.3");
        } else {
            EXPECT_TRUE(sandbox.LastRunLogHasStart(
                "[ZAVR 2] Update terminated abnormally for KA2 Orvane for XSE: " + message))
                << result.out;
            EXPECT_EQ(ReadFile(sandbox.productFolder + "aircraft.cfg"), test::kOldCfg);
            EXPECT_EQ(Version(), "1.1.0");
        }
    }

    UpdateSandbox sandbox;
    test::ProcessLimits limits;
    const std::string userFile = sandbox.Root() + "/elsewhere/user.txt";
    const std::string simFile = sandbox.productFolder + "mine.txt";
    const std::string journal = sandbox.tempFolder + "Backup/zavr-install-1001.json";
};

json Entry(const std::string& key, bool backedUp, const std::string& partial) {
    return {{"Key", key}, {"BackedUp", backedUp}, {"Partial", partial}};
}

TEST_F(OwnFoldersTest, AJournalIsInputNeverAuthority) {
    const std::string leftover = sandbox.productFolder + "aircraft.cfg.zavr-0123456789abcdef.partial";
    const std::string damaged = "My install record " + journal +
                                " is damaged, so I cannot tell which backups hold "
                                "your own files; I stop before changing anything (";
    const auto write = [this](int toVersion, const json& files) {
        WriteFile(journal, json{{"ToVersion", toVersion}, {"Files", files}}.dump());
    };
    const struct {
        const char* name;
        std::function<void()> plant;
        std::string message;  // the product's failure; empty: it is updated
    } cases[] = {
        {"partials naming the user's files",
         [&] {
             write(123, {Entry("ZAVR KA2/aircraft.cfg", false, userFile),
                         Entry("ZAVR KA2/mine.txt", false, simFile)});
         },
         ""},
        {"the same, stale",
         [&] {
             write(110, json::array({Entry("ZAVR KA2/aircraft.cfg", false, userFile), 7}));
         },
         ""},
        {"a backup that is not there",
         [&] {
             write(123, json::array({{{"Key", "ZAVR KA2/aircraft.cfg"}, {"BackedUp", true}, {"Token", ""}}}));
         },
         ""},
        {"its own leftover, in the earlier form",
         [&] {
             WriteFile(leftover, "half");
             write(123, json::array({Entry("ZAVR KA2/aircraft.cfg", false, leftover)}));
         },
         ""},
        {"a link to a private file",
         [&] {
             WriteFile(sandbox.Root() + "/private", "secret {");
             fs::create_symlink(sandbox.Root() + "/private", journal);
         },
         ""},
        {"a FIFO", [&] { ASSERT_EQ(::mkfifo(journal.c_str(), 0600), 0); }, ""},
        {"not JSON", [&] { WriteFile(journal, "secret {"); }, damaged + "it is not JSON)."},
        {"a key that climbs out",
         [&] { write(123, json::array({Entry("../../elsewhere/user.txt", false, "")})); },
         damaged + "it is not in the form I write)."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        c.plant();
        ExpectOutcome(sandbox.Run({}, limits), c.message);
        EXPECT_FALSE(fs::exists(leftover));
    }
    EXPECT_EQ(ReadFile(sandbox.Root() + "/private"), "secret {");
}

TEST_F(OwnFoldersTest, WhatStandsWhereItsOwnFileGoesIsReplacedNeverWrittenThrough) {
    const std::string temp = sandbox.tempFolder + "ZAVR KA2/aircraft.cfg";
    const std::string partial = temp + ".zavr-part";
    const struct {
        const char* name;
        std::function<void()> plant;
        std::string message;
    } cases[] = {
        {"a partial that is a second name of the user's file",
         [&] { fs::create_hard_link(userFile, partial); }, ""},
        {"a partial that is a link", [&] { fs::create_symlink(userFile, partial); }, ""},
        {"a partial that is a FIFO", [&] { ASSERT_EQ(::mkfifo(partial.c_str(), 0600), 0); }, ""},
        {"a partial that is an empty folder", [&] { fs::create_directories(partial); }, ""},
        {"a download that is a link", [&] { fs::create_symlink(userFile, temp); }, ""},
        {"a partial that is a folder with a file in it", [&] { WriteFile(partial + "/x", "x"); },
         partial + " is a folder with something in it, where I keep a file of my own; I leave it alone."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        c.plant();
        ExpectOutcome(sandbox.Run({}, limits), c.message);
    }
}

// The simulator's folder on a volume of its own, small enough that the install copies meet the reserve.
// The volume lives in a mount namespace of the run, so the script copies the folder out afterwards.
TEST_F(OwnFoldersTest, InstallCopiesKeepTheDiskReserve) {
    const std::string seen = sandbox.Root() + "/sim-after";
    const std::string script = sandbox.Root() + "/on-small-volume.sh";
    WriteFile(script, "#!/bin/sh\nset -e\nseed=$(mktemp -d)\ncp -a '" + sandbox.simFolder + ".' \"$seed\"\n" +
                          "mount -t tmpfs -o size=110m zavr-test '" + sandbox.simFolder +
                          "'\ncp -a \"$seed/.\" '" + sandbox.simFolder + "'\nset +e\n'" + ZAVR_UPDATER_EXE +
                          "' \"$@\"\nstatus=$?\n" + "rm -rf '" + seen + "'\ncp -a '" + sandbox.simFolder +
                          ".' '" + seen + "'\nexit $status\n");
    fs::permissions(script, fs::perms::owner_all);
    if (std::system(
            ("unshare -rm sh -c 'mount -t tmpfs -o size=1m zavr-probe " + sandbox.Root() + "' 2>/dev/null")
                .c_str()) != 0)
        GTEST_SKIP() << "this machine lets no test mount a small volume (unshare -rm and mount -t tmpfs)";
    sandbox.program = "/usr/bin/unshare";
    sandbox.programArgs = {"-rm", script};
    const struct {
        std::size_t bytes;
        bool fits;  // 110 MiB, less the reserve of 100 MiB
    } cases[] = {{std::size_t{4} << 20, true}, {std::size_t{16} << 20, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        Reset();
        const std::string content(c.bytes, 'n');
        sandbox.Publish(1001, 123, "ZAVR KA2/aircraft.cfg", content);
        const test::ProcessResult result = sandbox.Run({}, limits);
        EXPECT_EQ(result.exitCode, kExitComplete) << result.out;
        EXPECT_EQ(ReadFile(seen + "/ZAVR KA2/aircraft.cfg"), c.fits ? content : test::kOldCfg);
        EXPECT_EQ(sandbox.LastRunLogHasStart(
                      "[ZAVR 2] Update terminated abnormally for KA2 Orvane for XSE: The disk "
                      "that holds " +
                      sandbox.simFolder + " is nearly full: the new files need 16.0 MiB"),
                  !c.fits)
            << result.out;
    }
}

}  // namespace
}  // namespace zavr
