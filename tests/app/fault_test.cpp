// A bad network, a full disk and hostile data, each with its exact outcome: the message, the counts,
// what is on disk and what is in the registry file. Nothing the user had may be lost.
#include <gtest/gtest.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <future>
#include <mutex>
#include <regex>

#include "app/run.h"
#include "app/updater.h"
#include "build_config.h"
#include "support/raw_server.h"
#include "support/update_sandbox.h"

namespace zavr {
namespace {

using nlohmann::json;
using test::RawServer;
using test::ReadFile;
using test::UpdateSandbox;

const std::string kNew(200 * 1024, 'n');  // the new aircraft.cfg: larger than the file-size limits below

class FaultTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sandbox.PublishProducts(json::array({UpdateSandbox::Product(1001, "KA2 Orvane")}));
        sandbox.Publish(1001, 123, "ZAVR KA2/aircraft.cfg", kNew);
        test::WriteFile(sandbox.productFolder + "aircraft.cfg", test::kOldCfg);
        sandbox.Install("1.1.0");
        sandbox.Start();
    }

    using Fault = std::function<void(int&, const std::string&)>;

    // The address of a proxy in front of the sandbox's server that answers requests whose target
    // matches pattern with fault and passes every other one on. One proxy serves all the cases of a
    // test; each call sets the fault for the runs that follow.
    std::string FaultFor(const std::string& pattern, Fault fault) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            pattern_ = std::regex(pattern);
            fault_ = std::move(fault);
        }
        if (!proxy_) {
            const int port = sandbox.Server().Port();
            proxy_ = std::make_unique<RawServer>([this, port](int& fd, const std::string& target) {
                Fault fault;
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    if (std::regex_search(target, pattern_)) fault = fault_;
                }
                if (fault) return fault(fd, target);
                httplib::Client client("127.0.0.1", port);
                const auto response = client.Get(target.c_str());
                RawServer::Send(fd, response ? RawServer::Response(response->status, response->body)
                                             : RawServer::Response(502, ""));
            });
        }
        return proxy_->ProxyAddress();
    }
    bool Has(const std::string& entry) { return sandbox.LastRunLogHas(entry); }
    bool HasStart(const std::string& start) { return sandbox.LastRunLogHasStart(start); }
    std::string Version() {
        return sandbox.RegistryValue("HKEY_LOCAL_MACHINE", test::kUninstallKey, "DisplayVersion");
    }
    // The product failed with this message, the run completed, and the installation is as it was.
    // One line follows in plain words, saying what to do (with step in it, when given).
    void ExpectFailedAndUnchanged(const test::ProcessResult& result, const std::string& message,
                                  const char* step = "") {
        EXPECT_EQ(result.exitCode, kExitComplete) << result.out;
        const std::string failure =
            "[ZAVR 2] Update terminated abnormally for KA2 Orvane for XSE: " + message;
        EXPECT_TRUE(HasStart(failure)) << result.out;
        const std::string next = sandbox.LastRunLogLineAfter(failure);
        EXPECT_EQ(next.rfind("[ZAVR 2] What to do: ", 0), 0u) << next;
        EXPECT_NE(next.find(step), std::string::npos) << next;
        EXPECT_TRUE(Has("[ZAVR 1] Installed products that failed to update: 1"));
        EXPECT_TRUE(Has("[ZAVR 1] Installed products successfully updated: 0"));
        EXPECT_EQ(ReadFile(sandbox.productFolder + "aircraft.cfg"), test::kOldCfg);
        EXPECT_EQ(Version(), "1.1.0");
        EXPECT_EQ(test::FilesUnder(sandbox.simFolder), std::vector<std::string>{"ZAVR KA2/aircraft.cfg"})
            << "no partial file is left";
    }

    UpdateSandbox sandbox;

  private:
    std::mutex mutex_;
    std::regex pattern_;
    Fault fault_;
    std::unique_ptr<RawServer> proxy_;  // after the sandbox: it forwards to the sandbox's server
};

TEST_F(FaultTest, ABrokenFileTransferFailsTheProduct) {
    const std::string headers = "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n";
    const struct {
        const char* what;
        Fault fault;
    } cases[] = {
        {"reset mid-body",
         [&](int& fd, const std::string&) {
             RawServer::Send(fd, headers + std::string(1000, 'x'));
             RawServer::CloseWithReset(fd);
         }},
        {"fewer bytes than announced",
         [&](int& fd, const std::string&) { RawServer::Send(fd, headers + "short"); }},
        {"closed before the headers", [](int&, const std::string&) {}},
    };
    for (const auto& c : cases) {
        const test::ProcessResult result = sandbox.Run({{"http_proxy", FaultFor("/files/", c.fault)}});
        EXPECT_TRUE(Has("[ZAVR 2] Error in file download - I was unable to download " + sandbox.tempFolder +
                        "ZAVR KA2/aircraft.cfg"))
            << c.what << "\n"
            << result.out;
        ExpectFailedAndUnchanged(result, "Aborting file download; see error above.",
                                 "connected to the internet");
    }
}

TEST_F(FaultTest, AnEndlessReplyToAQueryIsCutOffAndEndsTheRun) {
    const std::string proxy = FaultFor("/products/", [](int& fd, const std::string&) {
        if (!RawServer::Send(fd, "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n\r\n[")) return;
        const std::string spaces(1 << 16, ' ');
        while (RawServer::Send(fd, spaces)) {
        }
    });
    const test::ProcessResult result = sandbox.Run({{"http_proxy", proxy}});
    EXPECT_EQ(result.exitCode, kExitError);
    EXPECT_TRUE(Has("[ZAVR 2] Failed to get " ZAVR_UPDATE_SERVER
                    "products/XSE/KA2/1.json, the reply was larger than 64.0 MiB, so I stopped reading it."))
        << result.out;
    EXPECT_EQ(ReadFile(sandbox.productFolder + "aircraft.cfg"), test::kOldCfg);
}

TEST_F(FaultTest, ARedirectLoopIsGivenUpOn) {
    const auto loop = [](int& fd, const std::string& target) {
        RawServer::Send(fd, RawServer::Response(302, "", "Location: " + target + "\r\n"));
    };
    ExpectFailedAndUnchanged(sandbox.Run({{"http_proxy", FaultFor("/files/", loop)}}),
                             "Aborting file download; see error above.");
    const test::ProcessResult result = sandbox.Run({{"http_proxy", FaultFor("/totals", loop)}});
    EXPECT_EQ(result.exitCode, kExitError);
    EXPECT_TRUE(HasStart("[ZAVR 2] Failed to get " ZAVR_UPDATE_SERVER
                         "totals?product=1001&version=110, Maximum (30) redirects"))
        << result.out;
}

TEST_F(FaultTest, AServerErrorPageAtTheFileListFailsTheProduct) {
    const std::string proxy = FaultFor("/filelist", [](int& fd, const std::string&) {
        RawServer::Send(fd, RawServer::Response(500, "<html><body>Internal Server Error</body></html>"));
    });
    ExpectFailedAndUnchanged(sandbox.Run({{"http_proxy", proxy}}),
                             "The server's file list for KA2 Orvane is not valid JSON (");
}

TEST_F(FaultTest, AStalledFileIsAbandonedUnderShortLimits) {
    // In-process, so that the limits can be short; the program itself waits 60 s.
    std::promise<void> release;
    const std::shared_future<void> released = release.get_future().share();
    const std::string proxy = FaultFor("/files/", [released](int& fd, const std::string&) {
        RawServer::Send(fd, "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\nxy");
        released.wait();  // the connection stays open, silent, until the run is over
    });
    std::vector<std::unique_ptr<test::ScopedEnv>> env;
    for (const auto& [name, value] : sandbox.Environment())
        env.push_back(std::make_unique<test::ScopedEnv>(name, name == "http_proxy" ? proxy : value));
    Updater updater;
    TransferLimits limits;
    limits.lowSpeedSeconds = 1;
    updater.downloader = Downloader(limits);
    updater.aircraftCode = "KA2";
    updater.simFamily = "XSE";
    ::testing::internal::CaptureStdout();
    updater.SetUpCatalogue();
    updater.FindInstalledVersion();
    updater.QueryProductInfo();
    const UpdateCounts counts = updater.UpdateProducts();
    const std::string console = ::testing::internal::GetCapturedStdout();
    release.set_value();
    EXPECT_EQ(counts.failed, 1);
    EXPECT_EQ(counts.succeeded, 0);
    EXPECT_NE(
        console.find(
            "Update terminated abnormally for KA2 Orvane for XSE: Aborting file download; see error above."),
        std::string::npos)
        << console;
    EXPECT_EQ(ReadFile(sandbox.productFolder + "aircraft.cfg"), test::kOldCfg);
    EXPECT_EQ(ReadFile(sandbox.tempFolder + "ZAVR KA2/aircraft.cfg.zavr-part"), "xy")
        << "what arrived stays, under its partial name";
}

TEST_F(FaultTest, AFullDiskDuringTheDownload) {
    test::ProcessLimits limits;
    limits.fileSizeBytes = 100 * 1024;
    const test::ProcessResult result = sandbox.Run({}, limits);
    EXPECT_TRUE(Has("[ZAVR 2] Error in file download - I was unable to download " + sandbox.tempFolder +
                    "ZAVR KA2/aircraft.cfg"))
        << result.out;
    ExpectFailedAndUnchanged(result, "Aborting file download; see error above.", "free some space");
}

TEST_F(FaultTest, AFullDiskDuringTheInstallCopy) {
    test::WriteFile(sandbox.tempFolder + "ZAVR KA2/aircraft.cfg",
                    kNew);  // downloaded whole by an earlier run
    test::ProcessLimits limits;
    limits.fileSizeBytes = 100 * 1024;
    const test::ProcessResult result = sandbox.Run({}, limits);
    EXPECT_TRUE(Has("[ZAVR 1] Existing file integrity OK: ZAVR KA2\\aircraft.cfg")) << result.out;
    ExpectFailedAndUnchanged(result, "I was unable to copy the file: ", "free some space");
    EXPECT_EQ(ReadFile(sandbox.backupFolder + "ZAVR KA2/aircraft.cfg"), test::kOldCfg);
}

TEST_F(FaultTest, ADestinationThatCannotBeWritten) {
    test::ProcessLimits limits;
    if (::geteuid() == 0) {
        // Root writes anywhere: run as an unprivileged user who owns the data folder but not the simulator.
        limits.userId = limits.groupId = 65534;
        boost::filesystem::create_directories(sandbox.dataFolder);
        for (const auto& entry : boost::filesystem::recursive_directory_iterator(sandbox.Root() + "/appdata"))
            ASSERT_EQ(::chown(entry.path().c_str(), 65534, 65534), 0);
        ASSERT_EQ(::chown((sandbox.Root() + "/appdata").c_str(), 65534, 65534), 0);
        ASSERT_EQ(::chmod(sandbox.Root().c_str(), 0755), 0);
    } else {
        boost::filesystem::permissions(sandbox.productFolder, boost::filesystem::perms::owner_read |
                                                                  boost::filesystem::perms::owner_exe);
    }
    ExpectFailedAndUnchanged(sandbox.Run({}, limits),
                             "I cannot replace " + sandbox.productFolder +
                                 "aircraft.cfg (Permission denied), so I replaced "
                                 "none of your files.",
                             "may change the add-on's folder");
    boost::filesystem::permissions(sandbox.productFolder, boost::filesystem::perms::owner_all);
}

TEST_F(FaultTest, ABackupThatCannotBeMade) {
    test::WriteFile(sandbox.tempFolder + "Backup", "a file where the backup tree belongs");
    ExpectFailedAndUnchanged(sandbox.Run(), "boost::filesystem::create_directories: Not a directory: ");
    EXPECT_FALSE(HasStart("[ZAVR 1] *** Copy file ")) << "nothing is copied before every backup is made";
}

// File lists no release would hold, answered by a proxy in front of the sandbox's server.
class HostileDataTest : public FaultTest {
  protected:
    std::string Proxy() {
        return FaultFor("/filelist", [this](int& fd, const std::string&) {
            RawServer::Send(fd, RawServer::Response(200, list));
        });
    }
    std::string list;
};

TEST_F(HostileDataTest, DigestsOfTheWrongLengthOrCaseNeverMatch) {
    const std::string right =
        "0e1e6a0d66ea2d6a32ad8e1e68c9b5c4";  // not the file's: only its form matters here
    for (const std::string& digest :
         {right.substr(0, 31), right + "0", std::string(32, 'A'), std::string()}) {
        list = json::array({{{"Folder", "ZAVR KA2"},
                             {"FilePath", "ZAVR KA2\\aircraft.cfg"},
                             {"FileSize", 200},
                             {"MD5Hash", digest}}})
                   .dump();
        ExpectFailedAndUnchanged(sandbox.Run({{"http_proxy", Proxy()}}),
                                 "Aborting file download, a downloaded file has failed integrity-check.");
    }
}

TEST_F(HostileDataTest, AVeryLongNameFailsCleanly) {
    const std::string name = "ZAVR KA2\\" + std::string(300, 'n') + ".cfg";
    list = json::array({{{"Folder", "ZAVR KA2"},
                         {"FilePath", name},
                         {"FileSize", 1},
                         {"MD5Hash", "d41d8cd98f00b204e9800998ecf8427e"}}})
               .dump();
    // The file system refuses the name already when asked whether the file is there.
    ExpectFailedAndUnchanged(sandbox.Run({{"http_proxy", Proxy()}}),
                             "boost::filesystem::status: File name too long: ");
}

TEST_F(HostileDataTest, NonAsciiNamesAreInstalledAsNamed) {
    const std::string name = "ZAVR KA2/Übungsflüge – ß.txt";
    sandbox.Publish(1001, 123, name, "checklist");
    const test::ProcessResult result = sandbox.Run();
    EXPECT_EQ(result.exitCode, kExitComplete);
    EXPECT_TRUE(Has("[ZAVR 1] Installed products successfully updated: 1")) << result.out;
    EXPECT_EQ(ReadFile(sandbox.simFolder + name), "checklist");
    EXPECT_EQ(Version(), "1.2.3");
}

}  // namespace
}  // namespace zavr
