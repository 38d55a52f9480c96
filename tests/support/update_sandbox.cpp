#include "support/update_sandbox.h"

#include <boost/filesystem.hpp>

#include "routes.h"
#include "server/md5.h"

namespace zavr::test {

std::string Md5Of(const std::string& content) {
    return Md5Hex(reinterpret_cast<const unsigned char*>(content.data()),
                  static_cast<std::uint32_t>(content.size()));
}

UpdateSandbox::UpdateSandbox()
    : dataFolder(dir_ / "appdata/ZAVR/ZAVR Orvane/Updater/"),
      simFolder(dir_ / "sim/"),
      productFolder(simFolder + "ZAVR KA2/"),
      tempFolder(dataFolder + "KA2 Orvane/XSE/"),
      backupFolder(tempFolder + "Backup/KA2/XSE/"),
      registryFile(dir_ / "registry.json"),
      releaseRoot_(dir_ / "release") {
    boost::filesystem::create_directories(productFolder);
    boost::filesystem::create_directories(releaseRoot_);
}

nlohmann::json UpdateSandbox::Product(int id, const std::string& name, int version, int minVersion) {
    return {{"ProductID", id},
            {"PVDec", std::to_string(version / 100) + "." + std::to_string(version / 10 % 10) + "." +
                          std::to_string(version % 10)},
            {"ProdVersion", version},
            {"MinVersion", minVersion},
            {"ZAVRFolderValue", "ZAVR KA2"},
            {"RegistryKey", kSimKey},
            {"ProdName", name},
            {"Simulator", "XSE"}};
}

void UpdateSandbox::PublishProducts(const nlohmann::json& products) {
    WriteFile(releaseRoot_ + "/products/XSE/KA2/1.json", products.dump(2));
}

void UpdateSandbox::Publish(int id, int version, const std::string& path, const std::string& content) {
    WriteFile(releaseRoot_ + "/releases/" + std::to_string(id) + "/" + std::to_string(version) + "/" + path,
              content);
}

void UpdateSandbox::Install(const std::string& displayVersion, bool simulatorInstalled) {
    nlohmann::json registry = {
        {"HKEY_LOCAL_MACHINE", {{kUninstallKey, {{"DisplayVersion", displayVersion}}}}}};
    if (simulatorInstalled) registry["HKEY_CURRENT_USER"] = {{kSimKey, {{"AppPath", dir_ / "sim"}}}};
    WriteFile(registryFile, registry.dump(2));
}

void UpdateSandbox::Start() {
    release_ = std::make_unique<devserver::Release>(releaseRoot_);
    devserver::MountRelease(server_.Http(), *release_);
    server_.Start();
    started_ = true;
}

std::map<std::string, std::string> UpdateSandbox::Environment() {
    if (!started_) Start();
    return {
        {"APPDATA", dir_ / "appdata"},
        {"ZAVR_REGISTRY", registryFile},
        // The server's address is built into the program; the test server is its proxy.
        {"http_proxy", server_.ProxyAddress()},
    };
}

ProcessResult UpdateSandbox::Run(const std::map<std::string, std::string>& overrides,
                                 const ProcessLimits& limits) {
    std::map<std::string, std::string> env = Environment();
    for (const auto& [name, value] : overrides) env[name] = value;
    return RunProcess(program, programArgs, env, limits);
}

nlohmann::json UpdateSandbox::Registry() const {
    return nlohmann::json::parse(ReadFile(registryFile));
}

std::string UpdateSandbox::RegistryValue(const std::string& root, const std::string& key,
                                         const std::string& name) const {
    return Registry().at(root).at(key).at(name).get<std::string>();
}

std::string UpdateSandbox::LogText() const {
    return ReadFile(dataFolder + "zavr_updater_log.txt");
}

std::vector<std::string> UpdateSandbox::LastRunLog() const {
    const std::vector<std::string> all = LogEntries(LogText());
    std::size_t start = 0;
    for (std::size_t i = 0; i < all.size(); ++i)
        if (all[i] == "[ZAVR 1] ===== ZAVR updater commencing") start = i;
    return std::vector<std::string>(all.begin() + static_cast<std::ptrdiff_t>(start), all.end());
}

bool UpdateSandbox::LastRunLogHas(const std::string& entry) const {
    const std::vector<std::string> log = LastRunLog();
    return std::find(log.begin(), log.end(), entry) != log.end();
}

bool UpdateSandbox::LastRunLogHasStart(const std::string& start) const {
    for (const std::string& line : LastRunLog())
        if (line.rfind(start, 0) == 0) return true;
    return false;
}

std::string UpdateSandbox::LastRunLogLineAfter(const std::string& start) const {
    const std::vector<std::string> log = LastRunLog();
    for (std::size_t i = 0; i + 1 < log.size(); ++i)
        if (log[i].rfind(start, 0) == 0) return log[i + 1];
    return std::string();
}

}  // namespace zavr::test
