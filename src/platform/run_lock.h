// One run of the updater at a time: an exclusive lock on a file in the data folder, held for the
// whole run. The system releases it when the process ends, however it ends, so a killed run never
// blocks the next one.
#pragma once

#include <cstdint>
#include <string>

namespace zavr {

enum class RunLockState {
    Held,   // this run holds the lock
    Busy,   // another run holds it
    Failed  // the lock file could not be opened or locked; reason says why
};

class RunLock {
  public:
    // Tries once to take the lock on the file at path (created when missing; a link there is not
    // followed). Never waits and never throws.
    explicit RunLock(const std::string& path);
    ~RunLock();
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;

    RunLockState State() const { return state_; }
    const std::string& Reason() const { return reason_; }

  private:
    RunLockState state_ = RunLockState::Failed;
    std::string reason_;
    std::intptr_t handle_ = -1;  // the lock file's descriptor or handle, as the platform's source keeps it
};

}  // namespace zavr
