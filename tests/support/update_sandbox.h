// A whole update set-up for end-to-end runs of the real program: a data folder, a registry file, a
// simulator folder with an installed product, and an update server on a free port serving a
// release tree through the development server's own routes.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "release.h"
#include "support/http_server.h"
#include "support/process.h"
#include "support/sandbox.h"

namespace zavr::test {

constexpr const char* kUninstallKey =
    "SOFTWARE\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{ED28645E-F9BC-451F-AB11-"
    "81DA5FE29A0F}";
constexpr const char* kSimKey = "Software\\ZAVR Sim\\XSE";

// What the end-to-end tests put in aircraft.cfg: the installed copy, and the copy released in 1.2.3.
inline const std::string kOldCfg = "cfg as installed";
inline const std::string kNewCfg = "cfg of 1.2.3";

// The digest text of a file's content, as a file list gives it.
std::string Md5Of(const std::string& content);

class UpdateSandbox {
    TempDir dir_;  // first: the paths below are built from it

  public:
    UpdateSandbox();

    // A product of the run's aircraft and simulator, as the server describes it.
    static nlohmann::json Product(int id, const std::string& name, int version = 123, int minVersion = 100);
    // Writes the product-information document of the build's catalogue row.
    void PublishProducts(const nlohmann::json& products);
    // Writes a file of a product's release: releases/<id>/<version>/<path> (slash-separated).
    void Publish(int id, int version, const std::string& path, const std::string& content);
    // Seeds the registry: the installed version and, unless empty, the simulator's folder.
    void Install(const std::string& displayVersion, bool simulatorInstalled = true);
    // Routes registered before Start take precedence over the release's own.
    TestServer& Server() { return server_; }
    // Serves the release; call once, after any routes of the test's own.
    void Start();

    // Runs the real program in the sandbox; overrides replace its environment's entries.
    ProcessResult Run(const std::map<std::string, std::string>& overrides = {},
                      const ProcessLimits& limits = {});
    // The environment of a run: APPDATA, ZAVR_REGISTRY and http_proxy.
    std::map<std::string, std::string> Environment();
    const std::string& Root() const { return dir_.Path(); }
    // The release tree the server serves (see devserver/release.h).
    const std::string& ReleaseRoot() const { return releaseRoot_; }
    nlohmann::json Registry() const;
    std::string RegistryValue(const std::string& root, const std::string& key, const std::string& name) const;
    std::string LogText() const;
    // The log's entries without time stamps, from the last run only.
    std::vector<std::string> LastRunLog() const;
    bool LastRunLogHas(const std::string& entry) const;
    // Whether an entry of the last run begins with start.
    bool LastRunLogHasStart(const std::string& start) const;
    // The line after the last run's first line that starts with start; empty when there is none.
    std::string LastRunLogLineAfter(const std::string& start) const;

    std::string dataFolder;                  // the updater's data folder, ending in "/"
    std::string simFolder;                   // the simulator's folder, ending in "/"
    std::string productFolder;               // simFolder + "ZAVR KA2/"
    std::string tempFolder;                  // dataFolder + "KA2 Orvane/XSE/"
    std::string backupFolder;                // tempFolder + "Backup/KA2/XSE/"
    std::string registryFile;                // the registry stand-in that the runs are given
    std::string program = ZAVR_UPDATER_EXE;  // what Run starts
    std::vector<std::string> programArgs;    // and its arguments

  private:
    std::string releaseRoot_;
    TestServer server_;
    std::unique_ptr<devserver::Release> release_;
    bool started_ = false;
};

}  // namespace zavr::test
