// Runs a program as a child process with a given environment, as a user would.
#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace zavr::test {

struct ProcessResult {
    int exitCode = -1;  // -1 when the child did not exit normally
    std::string out;
    std::string err;
    long peakKiB = 0;  // the child's peak resident memory
};

// Conditions set on the child alone.
struct ProcessLimits {
    long long fileSizeBytes = -1;  // RLIMIT_FSIZE; writes beyond it fail with EFBIG (SIGXFSZ is ignored)
    int userId = -1;               // run as this user (and groupId) instead of the caller
    int groupId = -1;
    bool errorToOutput = false;              // standard error goes where standard output goes, as with "2>&1"
    std::chrono::microseconds killAfter{0};  // when positive, SIGKILL then (if it still runs)
    long long addressSpaceBytes = -1;        // RLIMIT_AS: allocations beyond it fail
};

// Starts program with args and exactly the environment env, waits for it, and returns what it printed.
ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& env, const ProcessLimits& limits = {});

}  // namespace zavr::test
