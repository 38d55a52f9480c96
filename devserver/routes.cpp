#include "routes.h"

#include <boost/filesystem.hpp>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>

#include "server/release_signature.h"

namespace zavr::devserver {
namespace {

constexpr const char* kAnyHost = "(?:https?://[^/]+)?";

void Error(httplib::Response& response, int status, const std::string& message) {
    response.status = status;
    response.set_content(message + "\n", "text/plain");
}

std::optional<std::int32_t> IntegerParameter(const httplib::Request& request, const char* name) {
    if (!request.has_param(name)) return std::nullopt;
    const std::string text = request.get_param_value(name);
    try {
        std::size_t used = 0;
        const long long value = std::stoll(text, &used, 10);
        if (used != text.size() || value < INT32_MIN || value > INT32_MAX) return std::nullopt;
        return static_cast<std::int32_t>(value);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// The update asked for, or nullopt with the response already set.
std::optional<std::vector<ReleaseFile>> RequestedUpdate(const Release& release,
                                                        const httplib::Request& request,
                                                        httplib::Response& response) {
    const auto product = IntegerParameter(request, "product");
    const auto version = IntegerParameter(request, "version");
    if (!product || !version) {
        Error(response, 400, "product and version must be whole numbers");
        return std::nullopt;
    }
    auto files = release.FilesFor(*product, *version);
    if (!files) Error(response, 404, "no product " + std::to_string(*product));
    return files;
}

// Streams a file from disk without holding it in memory.
void SendFile(httplib::Response& response, const std::string& path, const std::string& type) {
    auto file = std::make_shared<std::ifstream>(path, std::ios::binary);
    const auto size = static_cast<std::size_t>(boost::filesystem::file_size(path));
    response.set_content_provider(
        size, type, [file](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
            static thread_local std::vector<char> chunk(256 * 1024);
            file->seekg(static_cast<std::streamoff>(offset));
            file->read(chunk.data(), static_cast<std::streamsize>(std::min(length, chunk.size())));
            const std::streamsize got = file->gcount();
            return got > 0 && sink.write(chunk.data(), static_cast<std::size_t>(got));
        });
}

void Guarded(httplib::Response& response, const std::function<void()>& handle) {
    try {
        handle();
    } catch (const std::exception& error) {
        Error(response, 500, error.what());
    }
}

httplib::Server* running = nullptr;

void Stop(int) {
    if (running != nullptr) running->stop();
}

void MountSignatures(httplib::Server& server, Release& release, const SigningKey& key) {
    server.Get(std::string(kAnyHost) + "/products/(.+\\.json)\\.sig",
               [&release, &key](const httplib::Request& request, httplib::Response& response) {
                   Guarded(response, [&] {
                       const std::string relative = request.matches[1];
                       const auto path = boost::filesystem::path(release.Root()) / "products" / relative;
                       if (!SafeRequestPath(relative) || !boost::filesystem::is_regular_file(path))
                           return Error(response, 404, "no such product document");
                       const std::string document = ReadWholeFile(path.string());
                       response.set_content(SignatureText(key, ProductDocumentMessage(relative, document)),
                                            "text/plain");
                   });
               });
    server.Get(std::string(kAnyHost) + "/filelist\\.sig", [&release, &key](const httplib::Request& request,
                                                                           httplib::Response& response) {
        Guarded(response, [&] {
            const auto files = RequestedUpdate(release, request, response);
            if (!files) return;
            const std::string list = release.FileListReply(*files);
            const auto product = IntegerParameter(request, "product");
            const auto version = IntegerParameter(request, "version");
            const std::int32_t target = release.CurrentVersion(*product).value_or(*version);
            response.set_content(SignatureText(key, FileListMessage(*product, *version, target, list)),
                                 "text/plain");
        });
    });
}

}  // namespace

int ServeUntilStopped(httplib::Server& server, const std::string& root, int port) {
    server.set_logger([](const httplib::Request& request, const httplib::Response& response) {
        std::printf("%s %s -> %d\n", request.method.c_str(), request.target.c_str(), response.status);
        std::fflush(stdout);
    });
    const int bound = port == 0 ? server.bind_to_any_port("127.0.0.1")
                                : (server.bind_to_port("127.0.0.1", port) ? port : -1);
    if (bound <= 0) {
        std::fprintf(stderr, "zavr-devserver: cannot listen on 127.0.0.1:%d.\n", port);
        return 1;
    }
    running = &server;
    std::signal(SIGINT, Stop);
    std::signal(SIGTERM, Stop);
    std::printf("Serving %s on http://127.0.0.1:%d/\n", root.c_str(), bound);
    std::fflush(stdout);
    server.listen_after_bind();
    return 0;
}

void MountRelease(httplib::Server& server, Release& release, const SigningKey* key) {
    if (key != nullptr) MountSignatures(server, release, *key);
    server.Get(std::string(kAnyHost) + "/products/(.+\\.json)", [&release](const httplib::Request& request,
                                                                           httplib::Response& response) {
        const std::string relative = request.matches[1];
        const boost::filesystem::path path = boost::filesystem::path(release.Root()) / "products" / relative;
        if (!SafeRequestPath(relative) || !boost::filesystem::is_regular_file(path))
            return Error(response, 404, "no such product document");
        SendFile(response, path.string(), "application/json");
    });
    server.Get(std::string(kAnyHost) + "/totals",
               [&release](const httplib::Request& request, httplib::Response& response) {
                   Guarded(response, [&] {
                       const auto files = RequestedUpdate(release, request, response);
                       if (!files) return;
                       response.set_content(Release::TotalsReply(*files), "application/json");
                   });
               });
    server.Get(std::string(kAnyHost) + "/filelist",
               [&release](const httplib::Request& request, httplib::Response& response) {
                   Guarded(response, [&] {
                       const auto files = RequestedUpdate(release, request, response);
                       if (!files) return;
                       response.set_content(release.FileListReply(*files), "application/json");
                   });
               });
    server.Get(std::string(kAnyHost) + "/files/([^/]+/[^/]+/[^/]+)/(.+)",
               [&release](const httplib::Request& request, httplib::Response& response) {
                   Guarded(response, [&] {
                       const auto path = release.FileOnDisk(request.matches[1], request.matches[2]);
                       if (!path) return Error(response, 404, "no such file");
                       SendFile(response, *path, "application/octet-stream");
                   });
               });
}

}  // namespace zavr::devserver
