#include "platform/run_lock.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace zavr {

#ifdef _WIN32

RunLock::RunLock(const std::string& path) {
    // Opened without sharing: a second opener fails until this handle is closed, by us or by the
    // system when the process ends. A reparse point is opened as itself, never followed.
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        handle_ = handle;
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
    if (handle_ != nullptr) CloseHandle(static_cast<HANDLE>(handle_));
}

#else

RunLock::RunLock(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd_ < 0) {
        reason_ = std::strerror(errno);
        return;
    }
    while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        if (errno == EWOULDBLOCK) {
            state_ = RunLockState::Busy;
        } else {
            reason_ = std::strerror(errno);
        }
        ::close(fd_);
        fd_ = -1;
        return;
    }
    state_ = RunLockState::Held;
}

RunLock::~RunLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

#endif

}  // namespace zavr
