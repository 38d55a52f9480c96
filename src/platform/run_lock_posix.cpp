#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/run_lock.h"

namespace zavr {

RunLock::RunLock(const std::string& path) {
    handle_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (handle_ < 0) {
        reason_ = std::strerror(errno);
        return;
    }
    while (::flock(handle_, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        if (errno == EWOULDBLOCK) {
            state_ = RunLockState::Busy;
        } else {
            reason_ = std::strerror(errno);
        }
        ::close(handle_);
        handle_ = -1;
        return;
    }
    state_ = RunLockState::Held;
}

RunLock::~RunLock() {
    if (handle_ >= 0) ::close(handle_);  // closing releases the lock
}

}  // namespace zavr
