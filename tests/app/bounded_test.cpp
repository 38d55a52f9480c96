// A broken or hostile server and a messy machine, end to end: replies too large, numbers too wide, texts
// that would forge a log line or not read back, registry files and folders of the wrong kind. Each ends
// in a sentence and a defined outcome, in bounded memory and time.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <boost/filesystem.hpp>
#include <iostream>
#include <mutex>

#include "app/run.h"
#include "build_config.h"
#include "support/update_sandbox.h"

namespace zavr {
namespace {

namespace fs = boost::filesystem;
using nlohmann::json;
using test::ReadFile;
using test::UpdateSandbox;
using test::WriteFile;

json Entry(const std::string& path, const std::string& content) {
    return {{"Folder", "ZAVR KA2"}, {"FilePath", path}, {"FileSize", 1}, {"MD5Hash", test::Md5Of(content)}};
}

class BoundedTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sandbox.Publish(1001, 123, "ZAVR KA2/aircraft.cfg", test::kNewCfg);
        Reset();
        // The totals and the file list are the test's own, so that each case can set them.
        for (std::string* reply : {&totals, &fileList}) {
            sandbox.Server().Get(reply == &totals ? "/totals" : "/filelist",
                                 [this, reply](const httplib::Request&, httplib::Response& r) {
                                     std::lock_guard<std::mutex> lock(mutex);
                                     r.set_content(*reply, "application/json");
                                 });
        }
    }
    // The release as served, and version 1.1.0 installed.
    void Reset() {
        sandbox.PublishProducts(json::array({UpdateSandbox::Product(1001, "KA2 Orvane")}));
        WriteFile(sandbox.productFolder + "aircraft.cfg", test::kOldCfg);
        sandbox.Install("1.1.0");
        Serve(&totals, R"([{"TotalFiles": 1, "TotalFileSize": 1}])");
        Serve(&fileList, json::array({Entry("ZAVR KA2\\aircraft.cfg", test::kNewCfg)}).dump());
    }
    void Serve(std::string* reply, std::string body) {
        std::lock_guard<std::mutex> lock(mutex);
        *reply = std::move(body);
    }
    void PublishProduct(const std::string& key, const json& value) {
        json product = UpdateSandbox::Product(1001, "KA2 Orvane");
        product[key] = value;
        sandbox.PublishProducts(json::array({product}));
    }
    bool Has(const std::string& entry) { return sandbox.LastRunLogHas(entry); }
    bool HasStart(const std::string& start) { return sandbox.LastRunLogHasStart(start); }
    std::string Version() {
        return sandbox.RegistryValue("HKEY_LOCAL_MACHINE", test::kUninstallKey, "DisplayVersion");
    }
    std::size_t Requests(const std::string& part) {
        std::size_t count = 0;
        for (const std::string& request : sandbox.Server().Requests())
            count += request.find(part) != std::string::npos;
        return count;
    }
    // The product failed with a message that starts as given; nothing was installed or recorded.
    void ExpectProductFailed(const test::ProcessResult& result, const std::string& messageStart) {
        EXPECT_EQ(result.exitCode, kExitComplete) << result.out;
        EXPECT_TRUE(HasStart("[ZAVR 2] Update terminated abnormally for KA2 Orvane for XSE: " + messageStart))
            << result.out;
        EXPECT_EQ(ReadFile(sandbox.productFolder + "aircraft.cfg"), test::kOldCfg);
        EXPECT_EQ(Version(), "1.1.0");
    }

    // Before the sandbox, whose server's handlers read them until it stops.
    std::mutex mutex;
    std::string totals;
    std::string fileList;
    UpdateSandbox sandbox;
};

TEST_F(BoundedTest, TheReleaseAsServedUpdates) {
    ASSERT_EQ(sandbox.Run().exitCode, kExitComplete);
    EXPECT_TRUE(Has("[ZAVR 1] Installed products successfully updated: 1"));
    EXPECT_EQ(Version(), "1.2.3");
}

TEST_F(BoundedTest, AVersionTextThatWouldNotReadBackIsRefusedBeforeAnyDownload) {
    const struct {
        std::string text;
        std::string why;
    } cases[] = {
        {std::string(500, '9'), "is longer than the 449 characters I can read back; I refuse to record it."},
        {"2.0", "would read back as version 20; I refuse to record it."},
    };
    for (const auto& c : cases) {
        PublishProduct("PVDec", c.text);
        const std::size_t lists = Requests("/filelist");
        const test::ProcessResult result = sandbox.Run();
        ExpectProductFailed(result, "The server gives \"" + c.text.substr(0, 60));
        EXPECT_NE(result.out.find("as the text of version 123, which " + c.why), std::string::npos)
            << result.out;
        EXPECT_EQ(Requests("/filelist"), lists) << "nothing is downloaded";
    }
}

TEST_F(BoundedTest, NumbersBeyondThirtyTwoBitsAreRefused) {
    const std::string products = ZAVR_UPDATE_SERVER "products/XSE/KA2/1.json";
    const std::string totalsUrl = ZAVR_UPDATE_SERVER "totals?product=1001&version=110";
    const struct {
        std::string reply;  // which reply carries the number
        std::string number;
        std::string logged;  // the last line of the run
    } cases[] = {
        {"products", "2147483648", "The server's reply to " + products + " is not what I expected: "},
        {"products", "4294967419", "The server's reply to " + products + " is not what I expected: "},
        {"totals", "4294967419", "The server's reply to " + totalsUrl + " is not what I expected: "},
        {"filelist", "4294967419",
         "Update terminated abnormally for KA2 Orvane for XSE: Entry 1 of the server's "
         "file list cannot be used: its \"FileSize\" 4294967419 is outside the 32-bit "
         "range."},
    };
    for (const auto& c : cases) {
        Reset();  // the release as served, then the one reply changed
        const long long number = std::stoll(c.number);
        if (c.reply == "products") PublishProduct("ProdVersion", number);
        if (c.reply == "totals")
            Serve(&totals, R"([{"TotalFiles": )" + c.number + R"(, "TotalFileSize": 1}])");
        if (c.reply == "filelist") {
            json entry = Entry("ZAVR KA2\\aircraft.cfg", test::kNewCfg);
            entry["FileSize"] = number;
            Serve(&fileList, json::array({entry}).dump());
        }
        const test::ProcessResult result = sandbox.Run();
        EXPECT_EQ(result.exitCode, c.reply == "filelist" ? kExitComplete : kExitError) << result.out;
        EXPECT_TRUE(HasStart("[ZAVR 2] " + c.logged)) << result.out;
        if (c.reply != "filelist") {
            EXPECT_NE(result.out.find("number " + c.number + " is outside the 32-bit range"),
                      std::string::npos);
        }
        EXPECT_EQ(Version(), "1.1.0");
    }
}

TEST_F(BoundedTest, ControlCharactersNeitherNameAFileNorForgeALogLine) {
    const std::string forged =
        "KA2\n2026/12/09 08:00:00 [ZAVR 1] Great, KA2 Orvane for XSE was successfully updated to the latest "
        "version!\x1b[31m";
    PublishProduct("ProdName", forged);
    test::ProcessResult result = sandbox.Run();
    EXPECT_EQ(result.exitCode, kExitComplete);
    EXPECT_TRUE(
        HasStart("[ZAVR 2] Update terminated abnormally for KA2\\x0a2026/12/09 08:00:00 [ZAVR 1] Great"))
        << result.out;
    EXPECT_NE(result.out.find("which I refuse: it holds a control character."), std::string::npos);
    EXPECT_FALSE(HasStart("[ZAVR 1] Great")) << "no line of the log begins with the server's text";
    EXPECT_EQ(result.out.find('\x1b'), std::string::npos) << "nothing steers the console";
    EXPECT_FALSE(fs::exists(sandbox.dataFolder + "KA2\n2026"));

    Reset();
    Serve(&fileList, json::array({Entry("ZAVR KA2\\air\tcraft.cfg", test::kNewCfg)}).dump());
    ExpectProductFailed(sandbox.Run(),
                        "Entry 1 of the server's file list names the path \"ZAVR KA2\\air\\x09craft.cfg\", "
                        "which I refuse: it holds a control character.");
}

TEST_F(BoundedTest, FileListsAreReadInBoundedMemory) {
#if defined(__SANITIZE_ADDRESS__)
    constexpr long kLimitKiB = 1L << 30;  // the sanitizer's own shadow and quarantine are no measure of ours
#else
    constexpr long kLimitKiB = 256 * 1024;
#endif
    // 100,000 realistic entries are accepted: the run goes on to the first download, which is missing.
    json many = json::array();
    for (int i = 0; i < 100000; ++i)
        many.push_back(Entry("ZAVR KA2\\textures\\t" + std::to_string(i) + ".dds", "x"));
    Serve(&fileList, many.dump());
    test::ProcessResult result = sandbox.Run();
    ExpectProductFailed(result, "Aborting file download; see error above.");
    EXPECT_TRUE(Has("[ZAVR 1] *** Downloading file 1 of 100000 ***"));
    EXPECT_LT(result.peakKiB, kLimitKiB);
    std::cout << "peak with 100,000 entries: " << result.peakKiB / 1024 << " MiB\n";

    std::string empties = "[";
    for (std::size_t i = 0; i < (std::size_t{63} << 20) / 3; ++i) empties += "{},";
    empties += "{}]";
    Serve(&fileList, std::move(empties));
    result = sandbox.Run();
    ExpectProductFailed(result,
                        "The server's file list for KA2 Orvane is more than I accept: it holds more than "
                        "1000000 values; I refuse it.");
    EXPECT_LT(result.peakKiB, kLimitKiB);
    std::cout << "peak with 63 MiB of {}: " << result.peakKiB / 1024 << " MiB\n";
}

// Out of memory while a reply arrives: a 48 MiB reply under a 100 MiB address space (the program itself
// takes about 23 MiB) fails as the text grows from 32 to 64 MiB.
TEST(OutOfMemoryTest, EndsTheRunWithOneSentence) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer cannot run under an address-space limit";
#endif
    UpdateSandbox sandbox;
    const std::string reply = "[" + std::string(std::size_t{48} << 20, ' ') + "]";
    sandbox.Server().Get("/products/XSE/KA2/1.json", [&reply](const httplib::Request&, httplib::Response& r) {
        r.set_content(reply, "application/json");
    });
    sandbox.Install("1.1.0");
    test::ProcessLimits limits;
    limits.addressSpaceBytes = std::int64_t{100} << 20;
    const test::ProcessResult result = sandbox.Run({}, limits);
    EXPECT_EQ(result.exitCode, kExitError) << "not an abort: " << result.out << result.err;
    const std::vector<std::string> log = sandbox.LastRunLog();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "[ZAVR 2] I ran out of memory and stopped; nothing more was changed.");
    EXPECT_NE(result.out.find("[ZAVR 2] I ran out of memory and stopped"), std::string::npos);
}

TEST_F(BoundedTest, RegistryFilesOfTheWrongShapeOrKind) {
    const std::string registry = sandbox.Root() + "/registry.json";
    test::ProcessLimits limits;
    limits.killAfter = std::chrono::seconds(60);  // a FIFO read would wait for ever

    // Nested far deeper than a registry: reported, never parsed or written, never a crash.
    std::string deep = R"({"HKEY_LOCAL_MACHINE": {"K": {"V": )" + std::string(100000, '[') +
                       std::string(100000, ']') + "}}}";
    WriteFile(registry, deep);
    test::ProcessResult result = sandbox.Run({}, limits);
    EXPECT_EQ(result.exitCode, kExitComplete) << result.out;
    EXPECT_TRUE(Has("[ZAVR 2] The registry file " + registry +
                    " is not a registry: it nests deeper than one; I leave it as it is."));
    EXPECT_EQ(ReadFile(registry), deep);

    // A FIFO is refused, not waited on.
    fs::remove(registry);
    ASSERT_EQ(::mkfifo(registry.c_str(), 0600), 0);
    result = sandbox.Run({}, limits);
    EXPECT_EQ(result.exitCode, kExitComplete) << result.out;
    EXPECT_TRUE(
        Has("[ZAVR 2] The registry file " + registry + " is not a regular file; I leave it as it is."));
    fs::remove(registry);

    // A link is the user's: the file it leads to is written, and keeps its permissions.
    sandbox.Install("1.1.0");
    const std::string real = sandbox.Root() + "/elsewhere/registry.json";
    fs::create_directories(fs::path(real).parent_path());
    fs::rename(registry, real);
    fs::permissions(real, fs::perms::owner_read | fs::perms::owner_write);
    fs::create_symlink(real, registry);
    result = sandbox.Run({}, limits);
    EXPECT_TRUE(Has("[ZAVR 1] Installed products successfully updated: 1")) << result.out;
    EXPECT_TRUE(fs::is_symlink(registry));
    EXPECT_EQ(Version(), "1.2.3");
    EXPECT_EQ(fs::status(real).permissions(), fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(BoundedTest, EntriesOfTheWrongKind) {
    test::ProcessLimits limits;
    limits.killAfter = std::chrono::seconds(60);  // a FIFO opened for reading would wait for ever

    // In the simulator's folder a FIFO stands where a listed file goes: refused.
    fs::remove(sandbox.productFolder + "aircraft.cfg");
    ASSERT_EQ(::mkfifo((sandbox.productFolder + "aircraft.cfg").c_str(), 0600), 0);
    test::ProcessResult result = sandbox.Run({}, limits);
    EXPECT_EQ(result.exitCode, kExitComplete) << result.out;
    EXPECT_TRUE(
        HasStart("[ZAVR 2] Update terminated abnormally for KA2 Orvane for XSE: " + sandbox.productFolder +
                 "aircraft.cfg is not a plain file, so I can neither back it up nor replace it."))
        << result.out;
    fs::remove(sandbox.productFolder + "aircraft.cfg");
    WriteFile(sandbox.productFolder + "aircraft.cfg", test::kOldCfg);

    // In the temporary tree, the updater's own, what is in the way is cleared: an error page saved where a
    // folder now goes, and a FIFO where a file goes.
    for (int kind = 0; kind < 2; ++kind) {
        fs::remove_all(sandbox.tempFolder);
        if (kind == 0) {
            WriteFile(sandbox.tempFolder + "ZAVR KA2", "<html>404</html>");
        } else {
            fs::create_directories(sandbox.tempFolder + "ZAVR KA2");
            ASSERT_EQ(::mkfifo((sandbox.tempFolder + "ZAVR KA2/aircraft.cfg").c_str(), 0600), 0);
        }
        sandbox.Install("1.1.0");
        result = sandbox.Run({}, limits);
        EXPECT_TRUE(Has("[ZAVR 1] Installed products successfully updated: 1")) << kind << "\n" << result.out;
        EXPECT_EQ(ReadFile(sandbox.productFolder + "aircraft.cfg"), test::kNewCfg);
        WriteFile(sandbox.productFolder + "aircraft.cfg", test::kOldCfg);
    }
}

}  // namespace
}  // namespace zavr
