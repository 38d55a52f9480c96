#include <windows.h>

#include "platform/durable_file.h"

namespace zavr {

namespace {

boost::system::error_code LastError() {
    return boost::system::error_code(static_cast<int>(GetLastError()), boost::system::system_category());
}

}  // namespace

boost::system::error_code ReplaceFileDurably(const std::string& path, const std::string& text, unsigned) {
    const std::string temporary = path + ".tmp." + std::to_string(GetCurrentProcessId());
    // Made anew, so that whatever someone left at that name is never written through.
    const auto create = [&temporary] {
        return CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH | FILE_FLAG_OPEN_REPARSE_POINT,
                           nullptr);
    };
    HANDLE file = create();
    if (file == INVALID_HANDLE_VALUE &&
        (GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ALREADY_EXISTS)) {
        const DWORD attributes = GetFileAttributesA(temporary.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)
                ? RemoveDirectoryA(temporary.c_str())
                : DeleteFileA(temporary.c_str()))
            file = create();
    }
    if (file == INVALID_HANDLE_VALUE) return LastError();
    DWORD written = 0;
    const bool ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                    written == text.size() && FlushFileBuffers(file);
    CloseHandle(file);
    if (!ok ||
        !MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const boost::system::error_code cause = LastError();
        DeleteFileA(temporary.c_str());
        return cause;
    }
    return boost::system::error_code();
}

bool FlushVolume(const std::string& folder) {
    char volume[MAX_PATH] = {};
    if (!GetVolumePathNameA(folder.c_str(), volume, MAX_PATH)) return true;
    std::string device = std::string("\\\\.\\") + volume;  // "\\.\C:\" names the volume without its last "\"
    if (!device.empty() && device.back() == '\\') device.pop_back();
    HANDLE handle = CreateFileA(device.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return true;
    const bool flushed = FlushFileBuffers(handle) != 0;
    const DWORD error = flushed ? ERROR_SUCCESS : GetLastError();
    CloseHandle(handle);
    // Only a failed write is a failure; a volume that cannot be flushed this way is as above.
    return flushed || (error != ERROR_IO_DEVICE && error != ERROR_WRITE_FAULT && error != ERROR_DISK_FULL &&
                       error != ERROR_HANDLE_DISK_FULL && error != ERROR_CRC);
}

}  // namespace zavr
