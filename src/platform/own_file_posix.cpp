#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>

#include "platform/own_file.h"
#include "platform/paths.h"

namespace zavr {
namespace {

// Closes a descriptor on every exit path unless it has been released.
class Descriptor {
  public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor() { Reset(-1); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return fd_; }
    void Reset(int fd) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }
    int Release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

  private:
    int fd_;
};

boost::system::error_code LastError() {
    return boost::system::error_code(errno, boost::system::system_category());
}

bool IsSoleRegularFile(int fd, struct stat& status) {
    return ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_nlink == 1;
}

// A stdio stream over fd, which it then owns; null (fd closed) when none can be made.
CFile StreamOf(Descriptor& fd) {
    // Only the open needed not to wait on a FIFO; reads and writes of the regular file may block.
    ::fcntl(fd.Get(), F_SETFL, ::fcntl(fd.Get(), F_GETFL) & ~O_NONBLOCK);
    CFile file(::fdopen(fd.Get(), "r+b"));
    if (file) fd.Release();
    return file;
}

}  // namespace

CFile OpenOwnFile(const std::string& root, const std::string& relative, OwnFileMode mode,
                  std::uint64_t& existingBytes, boost::system::error_code& error) {
    existingBytes = 0;
    Descriptor folder(::open(root.empty() ? "." : root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.Get() < 0) return error = LastError(), nullptr;
    std::size_t start = 0;
    for (std::size_t end; (end = relative.find(kPathSeparator, start)) != std::string::npos;
         start = end + 1) {
        const std::string element = relative.substr(start, end - start);
        folder.Reset(
            ::openat(folder.Get(), element.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (folder.Get() < 0) return error = LastError(), nullptr;
    }
    const std::string name = relative.substr(start);
    struct stat status {};
    if (mode == OwnFileMode::Continue) {
        Descriptor file(::openat(folder.Get(), name.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (file.Get() >= 0 && IsSoleRegularFile(file.Get(), status) &&
            ::lseek(file.Get(), 0, SEEK_END) == status.st_size) {
            existingBytes = static_cast<std::uint64_t>(status.st_size);
            CFile stream = StreamOf(file);
            if (!stream) error = LastError();
            return stream;
        }
    }
    // Whatever stands there goes: unlinking a name never touches what a link leads to, nor the file that
    // a second name shares; a folder goes only when empty.
    if (::unlinkat(folder.Get(), name.c_str(), 0) != 0 && errno != ENOENT &&
        (errno != EISDIR || ::unlinkat(folder.Get(), name.c_str(), AT_REMOVEDIR) != 0))
        return error = LastError(), nullptr;
    Descriptor file(::openat(folder.Get(), name.c_str(),
                             O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644));
    if (file.Get() < 0) return error = LastError(), nullptr;
    CFile stream = StreamOf(file);
    if (!stream) error = LastError();
    return stream;
}

bool OpenFileSize(std::FILE* file, std::uint64_t& size) {
    struct stat status {};
    if (::fstat(::fileno(file), &status) != 0 || status.st_size < 0) return false;
    size = static_cast<std::uint64_t>(status.st_size);
    return true;
}

bool SeekFile(std::FILE* file, std::uint64_t offset) {
    return offset <= static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()) &&
           ::fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

bool EmptyOwnFile(std::FILE* file) {
    return std::fflush(file) == 0 && ::ftruncate(::fileno(file), 0) == 0 &&
           std::fseek(file, 0, SEEK_SET) == 0;
}

CFile OpenRegularFile(const std::string& path) {
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat status {};
    if (fd.Get() < 0 || ::fstat(fd.Get(), &status) != 0 || !S_ISREG(status.st_mode)) return nullptr;
    ::fcntl(fd.Get(), F_SETFL, ::fcntl(fd.Get(), F_GETFL) & ~O_NONBLOCK);
    CFile file(::fdopen(fd.Get(), "rb"));
    if (file) fd.Release();
    return file;
}

OwnRead ReadOwnFile(const std::string& path, std::uint64_t maxBytes, std::string& text,
                    boost::system::error_code& error) {
    text.clear();
    Descriptor fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (fd.Get() < 0) {
        if (errno == ENOENT || errno == ENOTDIR) return OwnRead::Missing;
        if (errno == ELOOP) return OwnRead::NotAPlainFile;
        return error = LastError(), OwnRead::Failed;
    }
    struct stat status {};
    if (::fstat(fd.Get(), &status) != 0) return error = LastError(), OwnRead::Failed;
    if (!S_ISREG(status.st_mode)) return OwnRead::NotAPlainFile;
    if (static_cast<std::uint64_t>(status.st_size) > maxBytes) return OwnRead::TooLarge;
    text.resize(static_cast<std::size_t>(status.st_size));
    std::size_t got = 0;
    while (got < text.size()) {
        const ssize_t n = ::read(fd.Get(), &text[got], text.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return error = LastError(), OwnRead::Failed;
        if (n == 0) break;  // it shrank meanwhile
        got += static_cast<std::size_t>(n);
    }
    text.resize(got);
    return OwnRead::Read;
}

}  // namespace zavr
