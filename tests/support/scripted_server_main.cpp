// zavr-test-server: the development server's routes over a release tree, with fixed answers for
// chosen paths in front of them, for end-to-end runs that need a broken or hostile server.
//   zavr-test-server [--answer PATH-REGEX STATUS BODY-FILE]... RELEASE-ROOT
// Listens on a free port of 127.0.0.1 and prints "Serving ... on http://127.0.0.1:PORT/" when ready.
#include <httplib.h>

#include <cstdio>
#include <string>

#include "release.h"
#include "routes.h"
#include "support/sandbox.h"

int main(int argc, char** argv) {
    httplib::Server server;
    std::string root;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--answer" && i + 3 < argc) {
            const int status = std::stoi(argv[i + 2]);
            const std::string body = zavr::test::ReadFile(argv[i + 3]);
            server.Get("(?:https?://[^/]+)?" + std::string(argv[i + 1]),
                       [status, body](const httplib::Request&, httplib::Response& response) {
                           response.status = status;
                           response.set_content(body, "application/octet-stream");
                       });
            i += 3;
        } else if (root.empty()) {
            root = arg;
        } else {
            std::fprintf(stderr,
                         "usage: zavr-test-server [--answer PATH-REGEX STATUS BODY-FILE]... RELEASE-ROOT\n");
            return 2;
        }
    }
    zavr::devserver::Release release(root);
    zavr::devserver::MountRelease(server, release);
    return zavr::devserver::ServeUntilStopped(server, root, 0);
}
