#include "support/process.h"

#include <fcntl.h>
#include <sys/resource.h>

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>

#include <stdexcept>

namespace zavr::test {

ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& env, const ProcessLimits& limits) {
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("test: pipe");
    std::vector<std::string> envText;
    for (const auto& [name, value] : env) envText.push_back(name + "=" + value);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& entry : envText) envp.push_back(entry.data());
    envp.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("test: fork");
    if (pid == 0) {
        ::dup2(out[1], 1);
        ::dup2(limits.errorToOutput ? out[1] : err[1], 2);
        if (limits.fileSizeBytes >= 0) {
            ::signal(SIGXFSZ, SIG_IGN);  // inherited through exec: a full "disk" then fails writes instead
            const rlimit size{static_cast<rlim_t>(limits.fileSizeBytes),
                              static_cast<rlim_t>(limits.fileSizeBytes)};
            ::setrlimit(RLIMIT_FSIZE, &size);
        }
        if (limits.addressSpaceBytes >= 0) {
            const rlimit space{static_cast<rlim_t>(limits.addressSpaceBytes),
                               static_cast<rlim_t>(limits.addressSpaceBytes)};
            ::setrlimit(RLIMIT_AS, &space);
        }
        if (limits.userId >= 0 && (::setgid(limits.groupId) != 0 || ::setuid(limits.userId) != 0))
            ::_exit(126);
        ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    ProcessResult result;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    int open = 2;
    const auto killAt = std::chrono::steady_clock::now() + limits.killAfter;
    bool killPending = limits.killAfter.count() > 0;
    while (open > 0) {
        int timeout = -1;
        if (killPending) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                killAt - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                ::kill(pid, SIGKILL);
                killPending = false;
            } else {
                timeout = static_cast<int>(left.count());
            }
        }
        if (::poll(fds, 2, timeout) <= 0) continue;
        for (pollfd& fd : fds) {
            if (fd.fd < 0 || fd.revents == 0) continue;
            char buffer[65536];
            const ssize_t got = ::read(fd.fd, buffer, sizeof buffer);
            if (got > 0) {
                (fd.fd == out[0] ? result.out : result.err).append(buffer, static_cast<std::size_t>(got));
            } else {
                ::close(fd.fd);
                fd.fd = -1;
                --open;
            }
        }
    }
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    result.peakKiB = usage.ru_maxrss;
    return result;
}

}  // namespace zavr::test
