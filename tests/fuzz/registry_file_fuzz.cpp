// The registry stand-in's file: whatever it holds, a read and a write neither crash nor damage it. A
// file that is not a registry stays byte for byte as it was; a write to one that is leaves a registry
// holding the value.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>

#include "platform/registry_store.h"

namespace {

std::string path;

std::string Contents() {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

void RemoveFiles() {
    std::remove(path.c_str());
    std::remove((path + ".lock").c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    path = "/tmp/zavr-registry-fuzz-" + std::to_string(::getpid()) + ".json";
    std::atexit(RemoveFiles);
    ::setenv("ZAVR_REGISTRY", path.c_str(), 1);
    std::freopen("/dev/null", "w", stdout);  // the store reports unusable files on the console
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string before(reinterpret_cast<const char*>(data), size);
    {
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file << before;
    }
    const zavr::RegistryReadResult read =
        zavr::ReadRegistryValue(zavr::RegistryRoot::LocalMachine, "Software\\Key", "Value");
    if (read.status == zavr::RegistryReadStatus::Ok && read.value.size() > 449) __builtin_trap();
    // A store that cannot be read fails as an unopenable key, never as a value that was found.
    if (!read.problem.empty() && read.status != zavr::RegistryReadStatus::KeyNotOpened) __builtin_trap();
    const zavr::RegistryWriteResult written =
        zavr::WriteRegistryValue(zavr::RegistryRoot::CurrentUser, "software\\KEY", "value", "new");
    const std::string after = Contents();
    if (written.status != zavr::RegistryWriteStatus::Written) {
        if (after != before) __builtin_trap();
    } else {
        const nlohmann::json store = nlohmann::json::parse(after, nullptr, false);
        if (store.is_discarded() || !store.is_object()) __builtin_trap();
        const zavr::RegistryReadResult again =
            zavr::ReadRegistryValue(zavr::RegistryRoot::CurrentUser, "Software\\Key", "Value");
        if (again.status != zavr::RegistryReadStatus::Ok || again.value != "new") __builtin_trap();
    }
    return 0;
}
