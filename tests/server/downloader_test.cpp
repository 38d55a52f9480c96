#include "server/downloader.h"

#include <gtest/gtest.h>

#include <atomic>
#include <boost/filesystem.hpp>
#include <chrono>
#include <condition_variable>
#include <future>
#include <thread>

#include "platform/disk_space.h"
#include "server/text_sink.h"
#include "support/http_server.h"
#include "support/process.h"
#include "support/raw_server.h"
#include "support/sandbox.h"

namespace zavr {
namespace {

using test::RawServer;
using test::ReadFile;
using test::TempDir;
using test::TestServer;

// Short limits, so that a stalled server is given up on in a second or two.
TransferLimits Short() {
    TransferLimits limits;
    limits.connectTimeoutSeconds = 2;
    limits.lowSpeedSeconds = 1;
    limits.maxTextBytes = 4096;
    return limits;
}

// Answers every path with the given status and body.
void Answer(TestServer& server, const std::string& pattern, int status, const std::string& body) {
    server.Get(pattern, [status, body](const httplib::Request&, httplib::Response& response) {
        response.status = status;
        response.set_content(body, "text/plain");
    });
}

// Sends a few bytes and then nothing, until the test ends.
class Staller {
  public:
    void Serve(TestServer& server, const std::string& pattern) {
        server.Get(pattern, [this](const httplib::Request&, httplib::Response& response) {
            response.set_content_provider(
                1 << 20, "text/plain", [this](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                    if (offset == 0) return sink.write("[", 1);
                    std::unique_lock<std::mutex> lock(mutex_);
                    released_.wait_for(lock, std::chrono::seconds(30), [this] { return done_; });
                    return false;
                });
        });
    }
    ~Staller() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        released_.notify_all();
    }

  private:
    std::mutex mutex_;
    std::condition_variable released_;
    bool done_ = false;
};

std::string Captured(const std::function<void()>& action) {
    ::testing::internal::CaptureStdout();
    action();
    return ::testing::internal::GetCapturedStdout();
}

TEST(EscapeSpacesTest, ReplacesSpacesAndNothingElse) {
    EXPECT_EQ(EscapeSpaces("http://h/a b/c  d"), "http://h/a%20b/c%20%20d");
    EXPECT_EQ(EscapeSpaces("http://h/x%20y?a=1&b=\\#\xe9"), "http://h/x%20y?a=1&b=\\#\xe9");
}

TEST(FetchTextTest, ReturnsTheBodyWhateverTheStatus) {
    TestServer server;
    Answer(server, "/ok", 200, "[1,2]");
    Answer(server, "/missing", 404, "<html>not here</html>");
    Answer(server, "/empty", 200, "");
    server.Get("/moved",
               [](const httplib::Request&, httplib::Response& response) { response.set_redirect("/ok"); });
    Answer(server, "/a b", 200, "spaced");
    server.Start();
    const Downloader downloader;
    EXPECT_EQ(downloader.FetchText(server.Url("/ok")), "[1,2]");
    EXPECT_EQ(downloader.FetchText(server.Url("/missing")), "<html>not here</html>");
    EXPECT_EQ(downloader.FetchText(server.Url("/empty")), "");
    EXPECT_EQ(downloader.FetchText(server.Url("/moved")), "[1,2]");
    EXPECT_EQ(downloader.FetchText(server.Url("/a b")), "spaced");
    EXPECT_EQ(server.Requests().back(), "/a%20b");
}

TEST(FetchTextTest, PrefetchedRepliesAreTakenOnceAndDroppedByADownload) {
    TestServer server;
    Answer(server, "/a", 200, "first");
    Answer(server, "/b", 404, "second");
    Answer(server, "/file", 200, "content");
    server.Start();
    TempDir dir;
    Downloader downloader(Short());
    downloader.Prefetch({server.Url("/a"), server.Url("/b")});
    long status = 0;
    EXPECT_EQ(downloader.FetchText(server.Url("/b"), &status), "second");
    EXPECT_EQ(status, 404);
    EXPECT_EQ(downloader.FetchText(server.Url("/a")), "first");
    EXPECT_EQ(server.Requests(), (std::vector<std::string>{"/a", "/b"})) << "each asked once, at once";
    // A query still waiting when files are fetched is dropped, and asked for again when needed.
    downloader.Prefetch({server.Url("/a")});
    EXPECT_TRUE(downloader.DownloadFile(server.Url("/file"), dir / "file"));
    EXPECT_EQ(ReadFile(dir / "file"), "content");
    EXPECT_EQ(downloader.FetchText(server.Url("/a")), "first");
}

TEST(FetchTextTest, FailuresRaiseFailedToGet) {
    const int port = test::ClosedPort();
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/x y";
    for (const bool prefetched : {false, true}) {
        SCOPED_TRACE(prefetched ? "asked ahead" : "asked when needed");
        const Downloader downloader;
        if (prefetched) downloader.Prefetch({url});  // a failure there waits until the reply is taken
        try {
            downloader.FetchText(url);
            FAIL() << "no error";
        } catch (const std::runtime_error& error) {
            const std::string prefix = "Failed to get http://127.0.0.1:" + std::to_string(port) + "/x%20y, ";
            EXPECT_EQ(std::string(error.what()).rfind(prefix, 0), 0u) << error.what();
            EXPECT_GT(std::string(error.what()).size(), prefix.size()) << "the library's reason follows";
        }
    }
}

TEST(FetchTextTest, RangesAreAskedAheadAndTakenEachByItsOwnBytes) {
    TestServer server;
    // The library answers a Range itself (206) when the handler leaves the status alone.
    server.Get("/bank", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("0123456789", "application/octet-stream");
    });
    server.Start();
    const Downloader downloader(Short());
    const std::string url = server.Url("/bank");
    downloader.Prefetch(std::vector<TextQuery>{{url, "0-1", 2}, {url, "8-9", 2}});
    long status = 0;
    EXPECT_EQ(downloader.FetchText(TextQuery{url, "8-9", 2}, &status), "89");
    EXPECT_EQ(status, 206);
    EXPECT_EQ(downloader.FetchText(TextQuery{url, "0-1", 2}), "01");
    EXPECT_EQ(server.Requests().size(), 2u) << "each range asked once";
    // A server that sends more than the range asked is cut off at the range's length.
    EXPECT_THROW(downloader.FetchText(TextQuery{url, std::string(), 2}), std::runtime_error);
}

TEST(FetchTextTest, AnOverLongReplyIsCutOff) {
    TestServer server;
    Answer(server, "/big", 200, std::string(4097, 'x'));
    Answer(server, "/fits", 200, std::string(4096, 'x'));
    server.Start();
    const Downloader downloader(Short());
    EXPECT_EQ(downloader.FetchText(server.Url("/fits")).size(), 4096u);
    try {
        downloader.FetchText(server.Url("/big"));
        FAIL() << "no error";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), ("Failed to get " + server.Url("/big") +
                                    ", the reply was larger than 4.0 KiB, so I stopped reading it.")
                                       .c_str());
    }
}

TEST(FetchTextTest, AStalledReplyIsAbandoned) {
    TestServer server;
    Staller staller;  // released before the server stops, which waits for its handlers
    staller.Serve(server, "/stall");
    server.Start();
    // The staller lets go after 30 s; only the speed floor gives this reason, whatever the machine's load.
    try {
        Downloader(Short()).FetchText(server.Url("/stall"));
        FAIL() << "no error";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("Operation too slow"), std::string::npos) << error.what();
    }
}

TEST(FetchTextTest, ASelfSignedCertificateIsRefused) {
    TempDir dir;
    const test::ProcessResult made =
        test::RunProcess("/usr/bin/openssl",
                         {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=127.0.0.1", "-days",
                          "1", "-keyout", dir / "key.pem", "-out", dir / "cert.pem"},
                         {});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    TestServer server(
        std::make_unique<httplib::SSLServer>((dir / "cert.pem").c_str(), (dir / "key.pem").c_str()));
    Answer(server, "/secret", 200, "[]");
    server.Start();
    try {
        Downloader().FetchText(server.Url("/secret"));
        FAIL() << "an unverified server was trusted";
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(std::string(error.what()).rfind("Failed to get " + server.Url("/secret") + ", ", 0), 0u);
    }
}

class DownloadFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (int status : {200, 201, 204, 206, 404})
            Answer(server, "/" + std::to_string(status), status, "body");
        server.Get("/to404", [](const httplib::Request&, httplib::Response& r) { r.set_redirect("/404"); });
        server.Get("/to200", [](const httplib::Request&, httplib::Response& r) { r.set_redirect("/200"); });
        Answer(server, "/empty", 200, "");
        staller.Serve(server, "/stall");
        server.Start();
    }
    bool Download(const std::string& path, const std::string& target, std::string* console) {
        bool ok = false;
        *console = Captured([&] { ok = Downloader(Short()).DownloadFile(server.Url(path), target); });
        return ok;
    }

    TempDir dir;
    std::string target = dir / "file.bin";
    TestServer server;
    Staller staller;  // released before the server stops, which waits for its handlers
};

TEST_F(DownloadFileTest, OnlyAFinal200Or201Succeeds) {
    std::string console;
    for (const char* path : {"/200", "/201", "/to200"}) {
        EXPECT_TRUE(Download(path, target, &console)) << path;
        EXPECT_EQ(console, "") << path;
        EXPECT_EQ(ReadFile(target), "body");
    }
    for (const auto& [path, code] :
         {std::pair{"/204", "204"}, {"/206", "206"}, {"/404", "404"}, {"/to404", "404"}}) {
        EXPECT_FALSE(Download(path, target, &console)) << path;
        EXPECT_NE(console.find("[ZAVR 2] Error in file download - server provided abnormal response code " +
                               std::string(code) + "\n"),
                  std::string::npos)
            << console;
        EXPECT_NE(console.find(" to " + target + " failed: the server answered " + code + ".\n"),
                  std::string::npos)
            << console;
    }
    EXPECT_EQ(ReadFile(target), "body") << "what arrived stays";
}

TEST_F(DownloadFileTest, TruncatesAnExistingFileAndKeepsAnEmptyBody) {
    test::WriteFile(target, "old and longer content");
    std::string console;
    EXPECT_TRUE(Download("/empty", target, &console));
    EXPECT_EQ(ReadFile(target), "");
}

TEST_F(DownloadFileTest, AMissingFolderSendsNoRequest) {
    std::string console;
    EXPECT_FALSE(Download("/200", dir / "absent/file.bin", &console));
    EXPECT_NE(console.find("[ZAVR 2] Error in file download - I was unable to create the file on the disk\n"),
              std::string::npos);
    EXPECT_NE(console.find("[ZAVR 2] I could not create " + dir / "absent/file.bin.zavr-part" +
                           ": No such file or directory.\n"),
              std::string::npos)
        << console;
    EXPECT_TRUE(server.Requests().empty());
}

TEST_F(DownloadFileTest, AStalledTransferIsAbandonedAndWhatArrivedStays) {
    std::string console;
    EXPECT_FALSE(Download("/stall", target, &console));
    EXPECT_NE(console.find("[ZAVR 2] Error in file download - I was unable to download " + target + "\n"),
              std::string::npos)
        << console;
    EXPECT_EQ(ReadFile(target + ".zavr-part"), "[");
    EXPECT_FALSE(boost::filesystem::exists(target)) << "a half file never has the whole file's name";
}

TEST_F(DownloadFileTest, ProgressOffATerminalIsOneLinePerFile) {
    ::testing::internal::CaptureStderr();
    std::string console;
    Download("/200", target, &console);
    const std::string progress = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(test::Lines(progress).size(), 1u) << progress;
    EXPECT_EQ(progress.rfind("file.bin  4 B", 0), 0u) << progress;
}

// A server that drips or floods, met through the updater's proxy setting as a real one would be.
class HostileReplyTest : public ::testing::Test {
  protected:
    static std::string Headers(const std::string& more) { return "HTTP/1.1 200 OK\r\n" + more + "\r\n"; }
    // Sends piece every interval until the client goes or limit bytes are out.
    static void Drip(int fd, const std::string& piece, std::chrono::milliseconds interval,
                     std::size_t limit) {
        for (std::size_t sent = 0; sent < limit && RawServer::Send(fd, piece); sent += piece.size())
            std::this_thread::sleep_for(interval);
    }

    TempDir dir;
    std::string target = dir / "file.bin";
    std::promise<void> release;  // lets a handler that keeps its connection open return
    std::shared_future<void> released = release.get_future().share();
};

TEST_F(HostileReplyTest, SlowDripsEndAtTheSpeedFloorOrTheDeadline) {
    RawServer raw([](int& fd, const std::string& target) {
        if (target.find("/file") != std::string::npos) {  // 100 B/s: above the old floor, below today's
            RawServer::Send(fd, Headers("Content-Length: 100000\r\n"));
            Drip(fd, std::string(10, 'x'), std::chrono::milliseconds(100), 100000);
        } else {  // 40 KiB/s: far above the floor however loaded the machine, but the reply never ends
            RawServer::Send(fd, Headers("Content-Type: application/json\r\n") + "[");
            Drip(fd, std::string(4000, ' '), std::chrono::milliseconds(100), 1 << 20);
        }
    });
    test::ScopedEnv proxy("http_proxy", raw.ProxyAddress());
    test::ScopedEnv noProxy("no_proxy", std::nullopt);
    TransferLimits limits = Short();
    limits.maxTextBytes = 1 << 20;
    limits.textDeadlineSeconds = 2;
    Downloader downloader(limits);
    std::string console =
        Captured([&] { EXPECT_FALSE(downloader.DownloadFile("http://updates.example/file", target)); });
    EXPECT_NE(console.find("[ZAVR 2] Downloading http://updates.example/file to " + target +
                           " failed: Operation too slow."),
              std::string::npos)
        << console;
    try {
        downloader.FetchText("http://updates.example/products.json");
        FAIL() << "the drip was read to its end";
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(std::string(error.what())
                      .rfind("Failed to get http://updates.example/products.json, Operation "
                             "timed out after ",
                             0),
                  0u)
            << error.what();
    }
}

TEST_F(HostileReplyTest, AStrayReplyOnAKeptConnectionIsNeverReadAsTheNextOne) {
    RawServer raw([this](int& fd, const std::string& target) {
        if (target.find("/first") != std::string::npos) {
            // Kept alive, with a second answer nobody asked for already on the way.
            RawServer::Send(
                fd, Headers("Content-Length: 5\r\n") + "first" + Headers("Content-Length: 5\r\n") + "stray");
            released.wait();
        } else {
            RawServer::Send(fd, Headers("Content-Length: 6\r\n") + "second");
        }
    });
    test::ScopedEnv proxy("http_proxy", raw.ProxyAddress());
    test::ScopedEnv noProxy("no_proxy", std::nullopt);
    const Downloader downloader;
    EXPECT_EQ(downloader.FetchText("http://updates.example/first"), "first");
    EXPECT_EQ(downloader.FetchText("http://updates.example/second"), "second");
    release.set_value();
}

TEST_F(HostileReplyTest, ADownloadStopsWhileTheDiskKeepsItsReserve) {
    RawServer raw([](int& fd, const std::string& target) {
        if (target.find("/endless") != std::string::npos) {  // chunked, without end (within the test's bound)
            RawServer::Send(fd, Headers("Transfer-Encoding: chunked\r\n"));
            const std::string chunk = "10000\r\n" + std::string(0x10000, 'z') + "\r\n";
            Drip(fd, chunk, std::chrono::milliseconds(0), std::size_t{256} << 20);
        } else if (target.find("/beyond-room") != std::string::npos) {
            RawServer::Send(fd, Headers("Content-Length: 67108864\r\n") + std::string(4096, 'z'));
        } else {  // announces more than any disk here holds
            RawServer::Send(fd, Headers("Content-Length: 1125899906842624\r\n") + std::string(4096, 'z'));
        }
    });
    test::ScopedEnv proxy("http_proxy", raw.ProxyAddress());
    test::ScopedEnv noProxy("no_proxy", std::nullopt);
    const std::uint64_t free = FreeDiskBytes(dir.Path());
    ASSERT_GT(free, std::uint64_t{64} << 20) << "the test needs some room of its own";
    TransferLimits limits = Short();
    limits.diskReserveBytes = free - (std::uint64_t{16} << 20);  // room for 16 MiB more, here and now
    const std::string nearlyFull = "[ZAVR 2] The disk that holds " + dir.Path() + "/ is nearly full";
    const std::string beyondTheDisk = "[ZAVR 2] The server announces 1024.0 TiB for " + target +
                                      ", more than the whole disk that holds " + dir.Path() + "/ (";
    for (const auto& [path, sentence] :
         {std::pair{"/endless", nearlyFull}, std::pair{"/beyond-room", nearlyFull},
          std::pair{"/announced", beyondTheDisk}}) {
        const std::string console = Captured([&] {
            EXPECT_FALSE(
                Downloader(limits).DownloadFile(std::string("http://updates.example") + path, target));
        });
        EXPECT_NE(console.find("[ZAVR 2] Error in file download - I was unable to download " + target + "\n"),
                  std::string::npos)
            << path << "\n"
            << console;
        EXPECT_NE(console.find(sentence), std::string::npos) << path << "\n" << console;
        EXPECT_FALSE(boost::filesystem::exists(target)) << path << ": what arrived is removed";
    }
}

TEST_F(HostileReplyTest, APartialFileTheServerDoesNotContinueIsFetchedWhole) {
    const std::string whole = "the whole file, from its first byte";
    const struct {
        const char* name;
        std::vector<std::string> answers;  // one per request, in order
    } cases[] = {
        {"Range ignored", {RawServer::Response(200, whole)}},
        {"206 from elsewhere",
         {RawServer::Response(206, whole.substr(0, 9), "Content-Range: bytes 0-8/35\r\n"),
          RawServer::Response(200, whole)}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::atomic<std::size_t> requests{0};
        RawServer raw([&](int& fd, const std::string&) {
            const std::size_t i = requests++;
            RawServer::Send(fd, c.answers[std::min(i, c.answers.size() - 1)]);
        });
        test::ScopedEnv proxy("http_proxy", raw.ProxyAddress());
        test::ScopedEnv noProxy("no_proxy", std::nullopt);
        test::WriteFile(target + ".zavr-part", "the whole");
        Captured([&] { EXPECT_TRUE(Downloader(Short()).DownloadFile("http://updates.example/f", target)); });
        EXPECT_EQ(ReadFile(target), whole);
        EXPECT_FALSE(boost::filesystem::exists(target + ".zavr-part"));
        EXPECT_EQ(requests, c.answers.size());
    }
}

TEST(WriteCallbacksTest, ANullTargetEndsTheTransfer) {
    char data[] = "abc";
    EXPECT_EQ(WriteToString(data, 1, 3, nullptr), 0u);
    EXPECT_NE(
        Captured([&] { EXPECT_EQ(WriteToFile(data, 1, 3, nullptr), 0u); }).find("[ZAVR 2] No stream!\n"),
        std::string::npos);
    TextSink sink{std::string(), 5};
    EXPECT_EQ(WriteToString(data, 1, 3, &sink), 3u);
    EXPECT_EQ(WriteToString(data, 1, 3, &sink), 0u);
    EXPECT_TRUE(sink.overflowed);
    EXPECT_EQ(sink.text, "abc");
}

}  // namespace
}  // namespace zavr
