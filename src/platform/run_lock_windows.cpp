#include <windows.h>

#include "platform/run_lock.h"

namespace zavr {

RunLock::RunLock(const std::string& path) {
    // Opened without sharing: a second opener fails until this handle is closed, by us or by the
    // system when the process ends. A reparse point is opened as itself, never followed.
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        handle_ = reinterpret_cast<std::intptr_t>(handle);
        state_ = RunLockState::Held;
        return;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) {
        state_ = RunLockState::Busy;
        return;
    }
    reason_ = "system error " + std::to_string(error);
}

RunLock::~RunLock() {
    if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

}  // namespace zavr
