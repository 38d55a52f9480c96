// zavr-devserver: serves a release tree as an update server on 127.0.0.1.
#include <boost/filesystem.hpp>
#include <cstdio>
#include <string>

#include "release.h"
#include "routes.h"

namespace {

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
    return zavr::devserver::ServeUntilStopped(server, root, port);
}
