#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <cerrno>

#include "platform/durable_file.h"

namespace zavr {

namespace {

boost::system::error_code LastError() {
    return boost::system::error_code(errno, boost::system::system_category());
}

bool WriteAll(int fd, const std::string& text) {
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, left);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    return true;
}

}  // namespace

boost::system::error_code ReplaceFileDurably(const std::string& path, const std::string& text,
                                             unsigned mode) {
    const std::string temporary = path + ".tmp." + std::to_string(::getpid());
    // Made anew, so that whatever someone left at that name (a second name of another file, a link, a
    // FIFO) is never written through; it is removed itself instead.
    const auto create = [&temporary] {
        return ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    };
    int fd = create();
    if (fd < 0 && errno == EEXIST &&
        (::unlink(temporary.c_str()) == 0 || (errno == EISDIR && ::rmdir(temporary.c_str()) == 0)))
        fd = create();
    if (fd < 0) return LastError();
    ::fchmod(fd, static_cast<mode_t>(mode));  // as asked, whatever the process's umask
    const bool written = WriteAll(fd, text) && ::fsync(fd) == 0;
    const bool closed = ::close(fd) == 0;
    if (!written || !closed || ::rename(temporary.c_str(), path.c_str()) != 0) {
        const boost::system::error_code cause = LastError();
        ::unlink(temporary.c_str());
        return cause;
    }
    const std::string folder = boost::filesystem::path(path).parent_path().string();
    const int folderFd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd >= 0) {
        ::fsync(folderFd);
        ::close(folderFd);
    }
    return boost::system::error_code();
}

bool FlushVolume(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool flushed = ::syncfs(fd) == 0;
    ::close(fd);
    return flushed;
}

}  // namespace zavr
