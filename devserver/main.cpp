// zavr-devserver: serves a release tree as an update server on 127.0.0.1.
#include <boost/filesystem.hpp>
#include <cstdio>
#include <optional>
#include <string>

#include "doctor.h"
#include "export.h"
#include "publish.h"
#include "release.h"
#include "routes.h"

namespace {

int Usage() {
    std::fprintf(stderr,
                 "usage: zavr-devserver [--key KEY-FILE] [--port N] RELEASE-ROOT\n"
                 "       zavr-devserver [--key KEY-FILE] --export OUT RELEASE-ROOT\n"
                 "       zavr-devserver --check RELEASE-ROOT\n"
                 "       zavr-devserver --switch-back OUT\n"
                 "Serves RELEASE-ROOT on http://127.0.0.1:N/ (default port 18642; 0 picks a free one), or\n"
                 "publishes it into OUT as static files and nginx locations for a web server to serve\n"
                 "(a new tree under OUT/trees, made live in one step as OUT/live; the one before stays as\n"
                 "OUT/previous, to which --switch-back returns), or checks it the way the updater will\n"
                 "read it (an export checks it first, and writes nothing when it finds a problem).\n"
                 "With a key file (see zavr-sign), every product document and file list is signed.\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    int port = 18642;
    std::string root;
    std::string exportTo;
    std::string keyFile;
    bool check = false;
    if (argc == 3 && std::string(argv[1]) == "--switch-back") {
        try {
            std::printf("%s is live again.\n", zavr::devserver::SwitchBack(argv[2]).c_str());
            return 0;
        } catch (const std::exception& error) {
            std::fprintf(stderr, "zavr-devserver: %s\n", error.what());
            return 1;
        }
    }
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--port" && i + 1 < argc) {
            try {
                port = std::stoi(argv[++i]);
            } catch (const std::exception&) {
                return Usage();
            }
        } else if (arg == "--key" && i + 1 < argc) {
            keyFile = argv[++i];
        } else if (arg == "--check") {
            check = true;
        } else if (arg == "--export" && i + 1 < argc) {
            exportTo = argv[++i];
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

    if (check) {
        const std::vector<zavr::devserver::Finding> findings = zavr::devserver::CheckRelease(root);
        for (const zavr::devserver::Finding& finding : findings)
            std::fprintf(stderr, "%s: %s\n", finding.problem ? "problem" : "warning", finding.text.c_str());
        if (zavr::devserver::AnyProblem(findings)) {
            std::fprintf(stderr, "zavr-devserver: %s has problems; mend them before you export it.\n",
                         root.c_str());
            return 1;
        }
        std::printf("%s is ready to export: %zu warning(s).\n", root.c_str(), findings.size());
        return 0;
    }

    std::optional<zavr::devserver::SigningKey> key;
    try {
        if (!keyFile.empty()) key = zavr::devserver::ReadKeyFile(keyFile);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "zavr-devserver: %s\n", error.what());
        return 2;
    }
    zavr::devserver::Release release(root);
    if (!exportTo.empty()) {
        try {
            const bool earlierLayout = boost::filesystem::is_directory(
                boost::filesystem::symlink_status(boost::filesystem::path(exportTo) / "products"));
            const zavr::devserver::Publication published =
                zavr::devserver::PublishRelease(release, exportTo, key ? &*key : nullptr);
            for (const std::string& warning : published.warnings)
                std::fprintf(stderr, "warning: %s\n", warning.c_str());
            std::printf(
                "Published %s as %s: %zu files, live now at %s/live, with %s/zavr-locations.conf for "
                "nginx.\n",
                root.c_str(), published.tree.c_str(), published.files, exportTo.c_str(), exportTo.c_str());
            if (earlierLayout)
                std::printf(
                    "%s also holds an export made before releases were published as trees. Reload nginx "
                    "once (nginx -s reload) so that it reads the new zavr-locations.conf, then remove "
                    "its products, files, totals and filelist folders.\n",
                    exportTo.c_str());
            return 0;
        } catch (const std::exception& error) {
            std::fprintf(stderr, "zavr-devserver: the export failed: %s\n", error.what());
            return 1;
        }
    }
    httplib::Server server;
    zavr::devserver::MountRelease(server, release, key ? &*key : nullptr);
    return zavr::devserver::ServeUntilStopped(server, root, port);
}
