// The Windows registry through advapi32's 8-bit calls. No view flag is passed: keys that need the
// 32-bit view name "WOW6432Node" themselves.
#include <windows.h>

#include <cstring>

#include "platform/registry_store.h"

namespace zavr {
namespace {

HKEY Handle(RegistryRoot root) {
    return root == RegistryRoot::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

// Closes an opened key on every exit path.
class OpenKey {
  public:
    OpenKey() = default;
    ~OpenKey() {
        if (key_ != nullptr) RegCloseKey(key_);
    }
    OpenKey(const OpenKey&) = delete;
    OpenKey& operator=(const OpenKey&) = delete;
    HKEY* Out() { return &key_; }
    HKEY Get() const { return key_; }

  private:
    HKEY key_ = nullptr;
};

}  // namespace

RegistryReadResult ReadRegistryValue(RegistryRoot root, const std::string& subKey,
                                     const std::string& valueName) {
    RegistryReadResult result;
    OpenKey key;
    if (RegOpenKeyA(Handle(root), subKey.c_str(), key.Out()) != ERROR_SUCCESS) return result;
    // One byte beyond the buffer that the query may fill, so that data stored without its terminator
    // still ends inside what the query returned.
    char buffer[kRegistryReadBuffer + 1] = {};
    DWORD size = kRegistryReadBuffer;
    if (RegQueryValueExA(key.Get(), valueName.c_str(), nullptr, nullptr, reinterpret_cast<LPBYTE>(buffer),
                         &size) != ERROR_SUCCESS) {
        result.status = RegistryReadStatus::ValueNotRead;
        return result;
    }
    if (size > kRegistryReadBuffer) size = kRegistryReadBuffer;
    result.value.assign(buffer, strnlen(buffer, size));
    result.status = RegistryReadStatus::Ok;
    return result;
}

RegistryWriteResult WriteRegistryValue(RegistryRoot root, const std::string& subKey,
                                       const std::string& valueName, const std::string& data) {
    RegistryWriteResult result;
    result.status = RegistryWriteStatus::Written;
    OpenKey key;
    LONG status = RegOpenKeyExA(Handle(root), subKey.c_str(), 0, KEY_SET_VALUE, key.Out());
    if (status == ERROR_FILE_NOT_FOUND) {
        result.keyCreated = true;
        status = RegCreateKeyExA(Handle(root), subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                 KEY_SET_VALUE, nullptr, key.Out(), nullptr);
    }
    if (status != ERROR_SUCCESS) {
        result.status = RegistryWriteStatus::KeyNotOpened;
        return result;
    }
    if (RegSetValueExA(key.Get(), valueName.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                       static_cast<DWORD>(data.size() + 1)) != ERROR_SUCCESS)
        result.status = RegistryWriteStatus::ValueNotSet;
    return result;
}

}  // namespace zavr
