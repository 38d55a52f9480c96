// zavr-devserver: serves a release tree as an update server on 127.0.0.1.
#include <boost/filesystem.hpp>
#include <csignal>
#include <cstdio>
#include <string>

#include "release.h"
#include "routes.h"

namespace {

httplib::Server* running = nullptr;

void Stop(int) {
    if (running != nullptr) running->stop();
}

int Usage() {
    std::fprintf(stderr,
                 "usage: zavr-devserver [--port N] RELEASE-ROOT\n"
                 "Serves RELEASE-ROOT on http://127.0.0.1:N/ (default port 18642; 0 picks a free one).\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    int port = 18642;
    std::string root;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--port" && i + 1 < argc) {
            try {
                port = std::stoi(argv[++i]);
            } catch (const std::exception&) {
                return Usage();
            }
        } else if (root.empty() && arg.rfind("--", 0) != 0) {
            root = arg;
        } else {
            return Usage();
        }
    }
    if (root.empty() || port < 0 || port > 65535) return Usage();
    if (!boost::filesystem::is_directory(root)) {
        std::fprintf(stderr, "zavr-devserver: %s is not a folder.\n", root.c_str());
        return 2;
    }

    zavr::devserver::Release release(root);
    httplib::Server server;
    zavr::devserver::MountRelease(server, release);
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
