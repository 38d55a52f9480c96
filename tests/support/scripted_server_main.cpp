// zavr-test-server: the development server's routes over a release tree, with fixed answers for
// chosen paths in front of them, for end-to-end runs that need a broken, hostile or slow server.
//   zavr-test-server [--answer PATH-REGEX STATUS BODY-FILE | --answer-when FILE PATH-REGEX STATUS
//                     BODY-FILE]... RELEASE-ROOT
// --answer-when holds the answer back until FILE exists (to keep a run busy while another starts,
// however long that takes), for five minutes at most.
// Listens on a free port of 127.0.0.1 and prints "Serving ... on http://127.0.0.1:PORT/" when ready.
#include <httplib.h>

#include <boost/filesystem.hpp>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "release.h"
#include "routes.h"
#include "support/sandbox.h"

namespace {

void WaitFor(const std::string& file) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::minutes(5);
    while (!boost::filesystem::exists(file) && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

}  // namespace

int main(int argc, char** argv) {
    httplib::Server server;
    std::string root;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool held = arg == "--answer-when" && i + 4 < argc;
        if ((arg == "--answer" && i + 3 < argc) || held) {
            const std::string release = held ? argv[++i] : "";
            const int status = std::stoi(argv[i + 2]);
            const std::string body = zavr::test::ReadFile(argv[i + 3]);
            server.Get("(?:https?://[^/]+)?" + std::string(argv[i + 1]),
                       [release, status, body](const httplib::Request&, httplib::Response& response) {
                           if (!release.empty()) WaitFor(release);
                           response.status = status;
                           response.set_content(body, "application/octet-stream");
                       });
            i += 3;
        } else if (root.empty()) {
            root = arg;
        } else {
            std::fprintf(stderr,
                         "usage: zavr-test-server [--answer PATH-REGEX STATUS BODY-FILE | --answer-when FILE "
                         "PATH-REGEX STATUS BODY-FILE]... RELEASE-ROOT\n");
            return 2;
        }
    }
    zavr::devserver::Release release(root);
    zavr::devserver::MountRelease(server, release);
    return zavr::devserver::ServeUntilStopped(server, root, 0);
}
