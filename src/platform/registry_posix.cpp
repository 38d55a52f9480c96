// The registry stand-in for POSIX: one JSON file, root name -> sub-key path -> value name -> string.
// Names compare without regard to ASCII letter case, as on Windows. A write replaces the file
// atomically under an exclusive lock; a file that is not a registry of this shape is never changed.
// What goes wrong with the file is handed back as a sentence, never logged here.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <thread>

#include "platform/durable_file.h"
#include "platform/environment.h"
#include "platform/paths.h"
#include "platform/registry_store.h"

namespace zavr {
namespace {

using nlohmann::json;

// Empty, with the problem said, when no variable names a place for the file.
std::string StorePath(std::string& problem) {
    if (!EnvironmentValue("ZAVR_REGISTRY").empty()) return EnvironmentValue("ZAVR_REGISTRY");
    if (!EnvironmentValue("XDG_CONFIG_HOME").empty())
        return EnvironmentValue("XDG_CONFIG_HOME") + "/zavr/registry.json";
    if (!EnvironmentValue("HOME").empty()) return EnvironmentValue("HOME") + "/.config/zavr/registry.json";
    problem = "I cannot find the registry file: none of ZAVR_REGISTRY, XDG_CONFIG_HOME and HOME is set.";
    return std::string();
}

const char* RootName(RegistryRoot root) {
    return root == RegistryRoot::LocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
}

bool SameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && AsciiLowerCase(a) == AsciiLowerCase(b);
}

// The member of an object whose name matches without regard to case, or nullptr.
json* FindMember(json& object, const std::string& name) {
    for (auto it = object.begin(); it != object.end(); ++it)
        if (SameName(it.key(), name)) return &it.value();
    return nullptr;
}

// What is wrong with the shape of a parsed store; nullopt when nothing is.
std::optional<std::string> ShapeFault(const json& store) {
    if (!store.is_object()) return "its top level is not an object";
    for (const auto& root : store.items()) {
        if (!root.value().is_object()) return "the root \"" + root.key() + "\" is not an object";
        for (const auto& key : root.value().items())
            if (!key.value().is_object()) return "the key \"" + key.key() + "\" is not an object";
    }
    return std::nullopt;
}

// The depth of a registry: root, key, value. A document nested deeper is no registry, and is never
// parsed: the library's writer and destructor recurse, and a deep enough document would crash them.
constexpr int kRegistryDepth = 3;

bool NestsDeeperThan(const std::string& text, int depth) {
    int open = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '{' || c == '[') {
            if (++open > depth) return true;
        } else if (c == '}' || c == ']') {
            --open;
        }
    }
    return false;
}

// Loads the store. A missing file is an empty registry. Anything else that keeps it from being read
// as a registry yields false, with a sentence naming the file in problem. Only a regular file (or a
// link to one) is ever opened: a FIFO there would keep the read waiting for ever.
bool LoadStore(const std::string& path, json& store, std::string& problem) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        if (errno == ENOENT) {
            store = json::object();
            return true;
        }
        problem = "I cannot read the registry file " + path + ": " + std::strerror(errno) + ".";
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        problem = "The registry file " + path + " is not a regular file; I leave it as it is.";
        return false;
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {  // a stream says no more than that
        problem = "I cannot read the registry file " + path + ".";
        return false;
    }
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad()) {
        problem = "I cannot read the registry file " + path + ".";
        return false;
    }
    if (NestsDeeperThan(text.str(), kRegistryDepth)) {
        problem = "The registry file " + path +
                  " is not a registry: it nests deeper than one; I leave it as it is.";
        return false;
    }
    store = json::parse(text.str(), nullptr, false);
    if (store.is_discarded()) {
        problem = "The registry file " + path + " is not valid JSON; I leave it as it is.";
        return false;
    }
    if (const std::optional<std::string> fault = ShapeFault(store)) {
        problem = "The registry file " + path + " is not a registry: " + *fault + "; I leave it as it is.";
        return false;
    }
    return true;
}

// Holds an exclusive lock on the store's lock file for its lifetime. Waits for it a few seconds at most:
// a program that keeps it longer must not hang the run.
class StoreLock {
  public:
    explicit StoreLock(const std::string& lockPath) {
        fd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd_ < 0) {
            problem_ = std::strerror(errno);
            return;
        }
        for (int retry = 0;; ++retry) {
            if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) return;
            if (errno == EINTR) continue;
            if (errno != EWOULDBLOCK) {
                problem_ = std::strerror(errno);
                break;
            }
            if (retry == kRetries) {
                problem_ = "another program holds its lock " + lockPath + " and has not let go in " +
                           std::to_string(kRetries * kRetryWait.count() / 1000) + " seconds";
                break;
            }
            std::this_thread::sleep_for(kRetryWait);
        }
        ::close(fd_);
        fd_ = -1;
    }
    ~StoreLock() {
        if (fd_ >= 0) ::close(fd_);  // closing releases the lock
    }
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;
    bool Held() const { return fd_ >= 0; }
    // Why the lock is not held.
    const std::string& Problem() const { return problem_; }

  private:
    static constexpr int kRetries = 50;
    static constexpr std::chrono::milliseconds kRetryWait{100};
    int fd_ = -1;
    std::string problem_;
};

}  // namespace

RegistryReadResult ReadRegistryValue(RegistryRoot root, const std::string& subKey,
                                     const std::string& valueName) {
    RegistryReadResult result;
    const std::string path = StorePath(result.problem);
    json store;
    if (path.empty() || !LoadStore(path, store, result.problem)) return result;
    json* rootObject = FindMember(store, RootName(root));
    json* key = rootObject == nullptr ? nullptr : FindMember(*rootObject, subKey);
    if (key == nullptr) return result;
    result.status = RegistryReadStatus::ValueNotRead;
    json* data = FindMember(*key, valueName);
    if (data == nullptr || !data->is_string()) return result;
    const std::string& text = data->get_ref<const std::string&>();
    const std::string upToZero = text.substr(0, text.find('\0'));
    if (upToZero.size() + 1 > kRegistryReadBuffer) return result;
    result.value = upToZero;
    result.status = RegistryReadStatus::Ok;
    return result;
}

RegistryWriteResult WriteRegistryValue(RegistryRoot root, const std::string& subKey,
                                       const std::string& valueName, const std::string& data) {
    RegistryWriteResult result;
    const std::string path = StorePath(result.problem);
    if (path.empty()) return result;

    boost::system::error_code folderError;
    const boost::filesystem::path folder = boost::filesystem::path(path).parent_path();
    if (!folder.empty()) boost::filesystem::create_directories(folder, folderError);
    StoreLock lock(path + ".lock");
    if (!lock.Held()) {
        result.problem = "I cannot lock the registry file " + path + ": " + lock.Problem() + ".";
        return result;
    }
    json store;
    if (!LoadStore(path, store, result.problem)) return result;

    json* rootObject = FindMember(store, RootName(root));
    if (rootObject == nullptr) rootObject = &(store[RootName(root)] = json::object());
    json* key = FindMember(*rootObject, subKey);
    if (key == nullptr) {
        result.keyCreated = true;
        key = &((*rootObject)[subKey] = json::object());
    }
    json* value = FindMember(*key, valueName);
    if (value == nullptr) value = &((*key)[valueName] = json());
    *value = data;

    // A link there is the user's: the file it leads to is replaced, and keeps its permissions.
    std::string target = path;
    struct stat status {};
    if (::lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode)) {
        boost::system::error_code error;
        const boost::filesystem::path resolved = boost::filesystem::weakly_canonical(path, error);
        if (!error) target = resolved.string();
    }
    unsigned mode = 0644;
    if (::stat(target.c_str(), &status) == 0) mode = status.st_mode & 07777;
    const std::string text = store.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
    const boost::system::error_code error = ReplaceFileDurably(target, text, mode);
    result.status = error ? RegistryWriteStatus::ValueNotSet : RegistryWriteStatus::Written;
    if (error) result.problem = "I cannot replace the registry file " + path + ": " + error.message() + ".";
    return result;
}

}  // namespace zavr
