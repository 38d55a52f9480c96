#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/filesystem.hpp>
#include <cerrno>
#include <vector>

#include "platform/file_copy.h"

namespace fs = boost::filesystem;

namespace zavr {

namespace {

// Closes a descriptor on every exit path.
class Descriptor {
  public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return fd_; }
    // Closes now, reporting the failure a delayed write may show only here.
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

  private:
    int fd_;
};

[[noreturn]] void Fail(const std::string& from, const std::string& to, int error) {
    throw fs::filesystem_error("I was unable to copy the file", fs::path(from), fs::path(to),
                               boost::system::error_code(error, boost::system::system_category()));
}

// Plain reads and writes, where the kernel cannot copy between the two files itself.
bool CopyByHand(int in, int out) {
    std::vector<char> buffer(std::size_t{1} << 20);
    for (;;) {
        const ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return false;
        if (got == 0) return true;
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = ::write(out, buffer.data() + done, static_cast<std::size_t>(got - done));
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) return false;
            done += put;
        }
    }
}

}  // namespace

void CopyFileData(const std::string& from, const std::string& to, CopyTarget target) {
    // Non-blocking, so that a FIFO is refused at once below instead of waited on.
    Descriptor in(::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat status {};
    if (in.Get() < 0 || ::fstat(in.Get(), &status) != 0) Fail(from, to, errno);
    if (!S_ISREG(status.st_mode)) Fail(from, to, EINVAL);
    const int create = target == CopyTarget::CreateNew ? O_CREAT | O_EXCL : O_CREAT | O_TRUNC;
    Descriptor out(::open(to.c_str(), O_WRONLY | create | O_CLOEXEC | O_NOFOLLOW, status.st_mode & 07777));
    if (out.Get() < 0) Fail(from, to, errno);
    bool copied = true;
    for (off_t left = status.st_size; left > 0;) {
        const ssize_t moved =
            ::copy_file_range(in.Get(), nullptr, out.Get(), nullptr, static_cast<std::size_t>(left), 0);
        if (moved < 0 && errno == EINTR) continue;
        if (moved < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP) &&
            left == status.st_size) {
            copied = CopyByHand(in.Get(), out.Get());
            break;
        }
        if (moved <= 0) {
            // A file that shrank while it was copied ends early; anything else is a failure.
            copied = moved == 0;
            break;
        }
        left -= moved;
    }
    if (!copied) Fail(from, to, errno);
    if (!out.Close()) Fail(from, to, errno);
}

}  // namespace zavr
