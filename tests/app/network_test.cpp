// The updater against a real web server: a release exported as static files and served by nginx, over
// HTTPS with HTTP/2 through a relay that plays the user's network, files fetched in parallel, and
// releases signed by the maker.
#include <gtest/gtest.h>

#include <algorithm>
#include <boost/filesystem.hpp>
#include <functional>
#include <iterator>
#include <set>
#include <sstream>

#include "app/run.h"
#include "catalogue/build_settings.h"
#include "export.h"
#include "files/download_phase.h"
#include "server/release_signature.h"
#include "support/nginx.h"
#include "support/relay.h"
#include "support/update_sandbox.h"

namespace zavr {
namespace {

using nlohmann::json;
using test::UpdateSandbox;

// A release of count files (the first one large, so that later ones overtake it), exported for nginx.
class NetworkTest : public ::testing::Test {
  protected:
    static constexpr int kFiles = 12;

    void SetUp() override {
        if (test::NginxProgram().empty()) GTEST_SKIP() << "nginx is not installed";
        sandbox.PublishProducts(json::array({UpdateSandbox::Product(1001, "KA2 Orvane")}));
        for (int i = 1; i <= kFiles; ++i) {
            const std::string content = test::RandomBytes(i == 1 ? 8 << 20 : 1000 + 97 * i, i);
            sandbox.Publish(1001, 123, Name(i), content);
            contents.push_back(content);
        }
        test::WriteFile(sandbox.productFolder + "f01.bin", "as installed");
        sandbox.Install("1.1.0");
        Export();
    }
    // Signed with the tests' release key, which zavr-updater-tls-test holds.
    void Export() {
        devserver::Release release(sandbox.ReleaseRoot());
        devserver::ExportRelease(release, exported, &key);
    }
    static std::string Name(int i, char separator = '/') {
        return std::string("ZAVR KA2") + separator + "f" + (i < 10 ? "0" : "") + std::to_string(i) + ".bin";
    }

    // The download phase in this process, as many files at once as given; its log lines (without
    // time stamps) are returned and a failure's message is put in failure.
    std::vector<std::string> Download(std::size_t inFlight, int port, std::string* failure = nullptr) {
        test::ScopedEnv proxy("http_proxy", "http://127.0.0.1:" + std::to_string(port));
        TransferLimits limits;
        limits.filesInFlight = inFlight;
        Downloader downloader(limits);
        ProductInfo product;
        product.ProductID = 1001;
        product.ProdName = "KA2 Orvane";
        product.FilesUrl = "http://127.0.0.1:18642/files/XSE/KA2/1/";
        json manifest;
        ::testing::internal::CaptureStdout();
        try {
            DownloadFiles(downloader, product, 110, sandbox.tempFolder, manifest);
        } catch (const std::runtime_error& error) {
            if (failure != nullptr) *failure = error.what();
        }
        return test::LogEntries(::testing::internal::GetCapturedStdout());
    }

    const devserver::SigningKey key = devserver::ReadKeyFile(ZAVR_TEST_RELEASE_KEY);
    UpdateSandbox sandbox;
    test::TempDir dir;
    std::string exported = dir / "export";
    std::vector<std::string> contents;
};

TEST_F(NetworkTest, AnExportedReleaseUpdatesOverHttpsWithHttp2OnOneConnection) {
    const test::Certificate authority{ZAVR_TEST_CA ".pem", ZAVR_TEST_CA ".key"};
    test::Nginx nginx(exported, test::MakeServerCertificate(dir.Path(), "server", authority, "IP:127.0.0.1"));
    test::Relay network(nginx.Port(), std::chrono::milliseconds(5));
    sandbox.program = ZAVR_TLS_UPDATER_EXE;
    // The authority the program was built to trust is hidden from it where this machine allows: what it
    // trusts is inside the program, never read from the build machine's folders.
    if (std::system("unshare -rm true 2>/dev/null") == 0) {
        sandbox.program = "/usr/bin/unshare";
        sandbox.programArgs = {"-rm",
                               "sh",
                               "-c",
                               "mount -t tmpfs hidden \"$0\" && exec \"$1\"",
                               boost::filesystem::path(ZAVR_TEST_CA).parent_path().string(),
                               ZAVR_TLS_UPDATER_EXE};
    }
    const test::ProcessResult result = sandbox.Run({{"https_proxy", network.ProxyAddress()}});
    ASSERT_EQ(result.exitCode, kExitComplete) << result.out;
    for (int i = 1; i <= kFiles; ++i)
        EXPECT_EQ(test::ReadFile(sandbox.simFolder + Name(i)), contents[i - 1]) << Name(i);
    EXPECT_EQ(sandbox.RegistryValue("HKEY_LOCAL_MACHINE", test::kUninstallKey, "DisplayVersion"), "1.2.3");
    std::set<std::string> connections;
    int files = 0;
    for (const std::string& line : test::Lines(nginx.AccessLog())) {
        EXPECT_NE(line.find(" HTTP/2.0"), std::string::npos) << line;
        if (line.rfind("GET /files/", 0) == 0) ++files;
        std::istringstream fields(line);
        std::vector<std::string> words{std::istream_iterator<std::string>(fields), {}};
        connections.insert(words[words.size() - 2]);
    }
    EXPECT_EQ(files, kFiles);
    EXPECT_EQ(connections.size(), 1u) << "queries and files share one HTTP/2 connection\n"
                                      << nginx.AccessLog();
    EXPECT_EQ(network.Connections(), 1);
}

TEST_F(NetworkTest, QueriesOverHttp11RideOnTheConnectionsThatTheFilesUse) {
    test::Nginx nginx(exported);
    test::Relay network(nginx.Port());
    const test::ProcessResult result = sandbox.Run({{"http_proxy", network.ProxyAddress()}});
    ASSERT_EQ(result.exitCode, kExitComplete) << result.out;
    EXPECT_EQ(test::ReadFile(sandbox.simFolder + Name(kFiles)), contents.back());
    EXPECT_LE(network.Connections(), static_cast<int>(kBuildSettings.filesInFlight));
}

TEST_F(NetworkTest, WhatTheMakerDidNotSignIsRefusedBeforeAnythingIsFetched) {
    const test::Certificate authority{ZAVR_TEST_CA ".pem", ZAVR_TEST_CA ".key"};
    const test::Certificate certificate =
        test::MakeServerCertificate(dir.Path(), "server", authority, "IP:127.0.0.1");
    const std::string list = exported + "/filelist/1001/110.json";
    const std::string document = exported + "/products/XSE/KA2/1.json";
    const auto sign = [&](const devserver::SigningKey& by, const std::string& message) {
        test::WriteFile(list + ".sig", devserver::SignatureText(by, message));
    };
    const struct {
        const char* name;
        std::function<void()> change;
        bool wholeRun;  // a refused product document ends the run
        const char* reason;
    } cases[] = {
        {"a list changed by one byte",
         [&] { test::WriteFile(list, test::ReadFile(list).replace(1, 1, " ")); }, false, "does not hold"},
        {"a list signed by another key",
         [&] {
             test::TempDir other;
             sign(devserver::MakeKeyFile(other / "key"),
                  FileListMessage(1001, 110, 123, test::ReadFile(list)));
         },
         false, "does not hold"},
        {"the list for another version in its place",
         [&] {
             boost::filesystem::copy_file(exported + "/filelist/1001/100.json", list,
                                          boost::filesystem::copy_options::overwrite_existing);
             boost::filesystem::copy_file(exported + "/filelist/1001/100.json.sig", list + ".sig",
                                          boost::filesystem::copy_options::overwrite_existing);
         },
         false, "does not hold"},
        {"the list for another product",
         [&] { sign(key, FileListMessage(1002, 110, 123, test::ReadFile(list))); }, false, "does not hold"},
        {"an older release's list for the same installed version",
         [&] { sign(key, FileListMessage(1001, 110, 122, test::ReadFile(list))); }, false, "does not hold"},
        {"a list signed in the form that named no target",
         [&] { sign(key, OldFileListMessage(1001, 110, test::ReadFile(list))); }, false,
         "is of an older form that does not name the version the list installs"},
        {"a list without a signature", [&] { boost::filesystem::remove(list + ".sig"); }, false,
         "there is no signature at https://127.0.0.1:18643/filelist.sig?product=1001&version=110 (the server "
         "answered 404)"},
        {"a malformed signature", [&] { test::WriteFile(list + ".sig", "signed, trust me\n"); }, false,
         "is malformed: it holds 16 characters instead of 128 hexadecimal digits"},
        {"a product document without a signature", [&] { boost::filesystem::remove(document + ".sig"); },
         true, "there is no signature at https://127.0.0.1:18643/products/XSE/KA2/1.json.sig"},
    };
    sandbox.program = ZAVR_TLS_UPDATER_EXE;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Export();
        c.change();
        test::Nginx nginx(exported, certificate);
        test::Relay network(nginx.Port());
        const test::ProcessResult result = sandbox.Run({{"https_proxy", network.ProxyAddress()}});
        EXPECT_EQ(result.exitCode, c.wholeRun ? kExitError : kExitComplete) << result.out;
        const std::string refusal =
            c.wholeRun
                ? "[ZAVR 2] The product information at https://127.0.0.1:18643/products/XSE/KA2/1.json is "
                  "not signed by the maker: "
                : "[ZAVR 2] Update terminated abnormally for KA2 Orvane for XSE: The server's file list for "
                  "KA2 Orvane was not signed by the maker: ";
        EXPECT_TRUE(sandbox.LastRunLogHasStart(refusal)) << result.out;
        EXPECT_NE(result.out.find(c.reason), std::string::npos) << result.out;
        EXPECT_EQ(sandbox.LastRunLogLineAfter(refusal).rfind("[ZAVR 2] What to do: tell the maker", 0), 0u);
        EXPECT_EQ(nginx.AccessLog().find("GET /files/"), std::string::npos) << "nothing was downloaded";
        EXPECT_EQ(test::ReadFile(sandbox.productFolder + "f01.bin"), "as installed") << "nothing was copied";
    }
}

TEST_F(NetworkTest, AServerThatTheBuildDoesNotTrustIsRefusedWithTheLibrarysReason) {
    const test::Certificate ours{ZAVR_TEST_CA ".pem", ZAVR_TEST_CA ".key"};
    const test::Certificate stranger = test::MakeAuthority(dir.Path(), "stranger");
    const struct {
        const char* name;
        test::Certificate authority;
        const char* names;
        const char* reason;
    } cases[] = {
        {"an authority the build does not trust", stranger, "IP:127.0.0.1", "SSL certificate problem"},
        {"a certificate for another host", ours, "DNS:other.example", "127.0.0.1"},
    };
    sandbox.program = ZAVR_TLS_UPDATER_EXE;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::Nginx nginx(exported, test::MakeServerCertificate(dir.Path(), "server", c.authority, c.names));
        test::Relay network(nginx.Port());
        const test::ProcessResult result = sandbox.Run({{"https_proxy", network.ProxyAddress()}});
        EXPECT_EQ(result.exitCode, kExitError) << result.out;
        EXPECT_NE(sandbox.LogText().find(c.reason), std::string::npos) << sandbox.LogText();
        EXPECT_EQ(nginx.AccessLog(), "") << "not one request crossed the refused connection";
        EXPECT_EQ(test::ReadFile(sandbox.productFolder + "f01.bin"), "as installed");
    }
}

TEST_F(NetworkTest, FilesInParallelAreReportedExactlyAsOneAfterAnother) {
    test::Nginx nginx(exported);
    const std::vector<std::string> sequential = Download(1, nginx.Port());
    boost::filesystem::remove_all(sandbox.tempFolder);
    const std::vector<std::string> parallel = Download(4, nginx.Port());
    EXPECT_EQ(parallel, sequential);
    EXPECT_EQ(std::count(sequential.begin(), sequential.end(), "[ZAVR 1] Progress:"), kFiles);
    for (int i = 1; i <= kFiles; ++i)
        EXPECT_EQ(test::ReadFile(sandbox.tempFolder + Name(i)), contents[i - 1]) << Name(i);
}

TEST_F(NetworkTest, AFailureInTheMiddleEndsAtItsEntryAndWhatArrivedIsReused) {
    boost::filesystem::remove(exported + "/files/XSE/KA2/1/" + Name(3));
    test::Nginx nginx(exported);
    std::string failure;
    const std::vector<std::string> first = Download(4, nginx.Port(), &failure);
    EXPECT_EQ(failure, "Aborting file download; see error above.");
    EXPECT_EQ(std::count(first.begin(), first.end(), "[ZAVR 1] *** Downloading file 4 of 12 ***"), 0)
        << "nothing is reported after the failing entry";
    EXPECT_EQ(first.back(),
              "[ZAVR 2] Downloading http://127.0.0.1:18642/files/XSE/KA2/1/ZAVR%20KA2/f03.bin to " +
                  sandbox.tempFolder + Name(3) + " failed: the server answered 404.");

    Export();
    std::vector<int> arrived;
    for (int i = 4; i <= kFiles; ++i)
        if (boost::filesystem::exists(sandbox.tempFolder + Name(i))) arrived.push_back(i);
    const std::vector<std::string> second = Download(4, nginx.Port(), &failure);
    for (const int i : {1, 2})
        EXPECT_NE(
            std::find(second.begin(), second.end(), "[ZAVR 1] Existing file integrity OK: " + Name(i, '\\')),
            second.end());
    for (const int i : arrived)
        EXPECT_NE(
            std::find(second.begin(), second.end(), "[ZAVR 1] Existing file integrity OK: " + Name(i, '\\')),
            second.end())
            << Name(i) << " arrived during the failed run and is kept";
    for (int i = 1; i <= kFiles; ++i)
        EXPECT_EQ(test::ReadFile(sandbox.tempFolder + Name(i)), contents[i - 1]);
}

TEST_F(NetworkTest, APartialFileIsContinuedAndAWrongOneIsFetchedWholeOnce) {
    test::Nginx nginx(exported);
    const std::string partial = sandbox.tempFolder + Name(1) + ".zavr-part";
    const std::size_t half = contents[0].size() / 2;
    const struct {
        const char* name;
        std::string partial;
        std::vector<std::string> requests;  // status and bytes sent for the big file
    } cases[] = {
        {"half of the file",
         contents[0].substr(0, half),
         {"206 " + std::to_string(contents[0].size() - half)}},
        {"the whole file, only not yet renamed", contents[0], {"416"}},
        {"half of another file",
         std::string(half, 'x'),
         {"206 " + std::to_string(contents[0].size() - half), "200 " + std::to_string(contents[0].size())}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        boost::filesystem::remove_all(sandbox.tempFolder);
        test::WriteFile(partial, c.partial);
        const std::size_t logged = test::Lines(nginx.AccessLog()).size();
        Download(2, nginx.Port());
        EXPECT_EQ(test::ReadFile(sandbox.tempFolder + Name(1)), contents[0]);
        EXPECT_FALSE(boost::filesystem::exists(partial));
        std::vector<std::string> requests;
        const std::vector<std::string> lines = test::Lines(nginx.AccessLog());
        for (std::size_t i = logged; i < lines.size(); ++i) {
            if (lines[i].find(Name(1).substr(9)) == std::string::npos) continue;
            std::istringstream fields(lines[i]);
            std::vector<std::string> words{std::istream_iterator<std::string>(fields), {}};
            const std::string status = words[words.size() - 4];
            requests.push_back(status == "416" ? status : status + " " + words[words.size() - 3]);
        }
        EXPECT_EQ(requests, c.requests);
    }
}

}  // namespace
}  // namespace zavr
