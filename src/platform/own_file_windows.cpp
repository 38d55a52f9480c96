#include <fcntl.h>
#include <io.h>
#include <string.h>
#include <sys/stat.h>
#include <windows.h>

#include <limits>

#include "platform/own_file.h"

namespace zavr {
namespace {

boost::system::error_code LastError() {
    return boost::system::error_code(static_cast<int>(GetLastError()), boost::system::system_category());
}

// Closes a handle on every exit path unless it has been released.
class Handle {
  public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    ~Handle() {
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE Get() const { return handle_; }
    HANDLE Release() {
        const HANDLE handle = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return handle;
    }

  private:
    HANDLE handle_;
};

// The path the system resolves handle to, every junction and link followed; empty when it cannot say.
std::string FinalPath(HANDLE handle) {
    char path[32768];
    const DWORD length = GetFinalPathNameByHandleA(handle, path, sizeof path, FILE_NAME_NORMALIZED);
    return length == 0 || length >= sizeof path ? std::string() : std::string(path, length);
}

// Whether the file at handle lies under the folder whose final path is folder: a junction swapped in
// for one of its folders leads elsewhere.
bool LiesUnder(HANDLE handle, const std::string& folder) {
    const std::string path = FinalPath(handle);
    return !folder.empty() && path.size() > folder.size() + 1 &&
           _strnicmp(path.c_str(), folder.c_str(), folder.size()) == 0 &&
           (path[folder.size()] == '\\' || folder.back() == '\\');
}

bool IsSoleRegularFile(HANDLE handle, BY_HANDLE_FILE_INFORMATION& information) {
    return GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &information) &&
           (information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0 &&
           information.nNumberOfLinks == 1;
}

// A stdio stream over handle, which it then owns; null (handle closed) when none can be made.
CFile StreamOf(Handle& handle) {
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle.Get()), _O_RDWR | _O_BINARY);
    if (fd < 0) return nullptr;
    handle.Release();
    CFile file(_fdopen(fd, "r+b"));
    if (!file) _close(fd);
    return file;
}

// Deletes the file that handle holds open (opened with DELETE access).
void DeleteOpenFile(HANDLE handle) {
    FILE_DISPOSITION_INFO disposition{TRUE};
    SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition);
}

}  // namespace

CFile OpenOwnFile(const std::string& root, const std::string& relative, OwnFileMode mode,
                  std::uint64_t& existingBytes, boost::system::error_code& error) {
    existingBytes = 0;
    std::string rootPath;
    {
        Handle folder(CreateFileA(root.empty() ? "." : root.c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (folder.Get() == INVALID_HANDLE_VALUE) return error = LastError(), nullptr;
        rootPath = FinalPath(folder.Get());
    }
    const std::string path = root.empty() || root == "." ? relative : root + relative;
    const DWORD access = GENERIC_READ | GENERIC_WRITE | DELETE;
    BY_HANDLE_FILE_INFORMATION information{};
    if (mode == OwnFileMode::Continue) {
        Handle file(CreateFileA(path.c_str(), access, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (file.Get() != INVALID_HANDLE_VALUE && IsSoleRegularFile(file.Get(), information) &&
            LiesUnder(file.Get(), rootPath)) {
            LARGE_INTEGER size{};
            size.HighPart = static_cast<LONG>(information.nFileSizeHigh);
            size.LowPart = information.nFileSizeLow;
            CFile stream = StreamOf(file);
            if (!stream || _fseeki64(stream.get(), 0, SEEK_END) != 0) return error = LastError(), nullptr;
            existingBytes = static_cast<std::uint64_t>(size.QuadPart);
            return stream;
        }
    }
    // Whatever stands there goes: deleting a link or junction never touches what it leads to, nor the
    // file that a second name shares; a folder goes only when empty.
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        !((attributes & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryA(path.c_str())
                                                  : DeleteFileA(path.c_str())))
        return error = LastError(), nullptr;
    Handle file(CreateFileA(path.c_str(), access, FILE_SHARE_READ, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (file.Get() == INVALID_HANDLE_VALUE) return error = LastError(), nullptr;
    if (!LiesUnder(file.Get(), rootPath)) {
        DeleteOpenFile(file.Get());  // made where a swapped-in junction led: not ours to keep
        error = boost::system::error_code(ERROR_CANT_ACCESS_FILE, boost::system::system_category());
        return nullptr;
    }
    CFile stream = StreamOf(file);
    if (!stream) error = LastError();
    return stream;
}

bool OpenFileSize(std::FILE* file, std::uint64_t& size) {
    struct _stat64 status {};
    if (_fstat64(_fileno(file), &status) != 0 || status.st_size < 0) return false;
    size = static_cast<std::uint64_t>(status.st_size);
    return true;
}

bool SeekFile(std::FILE* file, std::uint64_t offset) {
    return offset <= static_cast<std::uint64_t>(std::numeric_limits<__int64>::max()) &&
           _fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0;
}

bool EmptyOwnFile(std::FILE* file) {
    return std::fflush(file) == 0 && _chsize_s(_fileno(file), 0) == 0 && _fseeki64(file, 0, SEEK_SET) == 0;
}

CFile OpenRegularFile(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return nullptr;
    return CFile(std::fopen(path.c_str(), "rb"));  // the file system holds no FIFOs
}

OwnRead ReadOwnFile(const std::string& path, std::uint64_t maxBytes, std::string& text,
                    boost::system::error_code& error) {
    text.clear();
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD cause = GetLastError();
        if (cause == ERROR_FILE_NOT_FOUND || cause == ERROR_PATH_NOT_FOUND) return OwnRead::Missing;
        return error = LastError(), OwnRead::Failed;
    }
    if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) return OwnRead::NotAPlainFile;
    Handle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (file.Get() == INVALID_HANDLE_VALUE) return error = LastError(), OwnRead::Failed;
    BY_HANDLE_FILE_INFORMATION information{};
    if (GetFileType(file.Get()) != FILE_TYPE_DISK || !GetFileInformationByHandle(file.Get(), &information) ||
        (information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
        return OwnRead::NotAPlainFile;
    const std::uint64_t size = (std::uint64_t{information.nFileSizeHigh} << 32) | information.nFileSizeLow;
    if (size > maxBytes) return OwnRead::TooLarge;
    text.resize(static_cast<std::size_t>(size));
    std::size_t got = 0;
    while (got < text.size()) {
        DWORD read = 0;
        if (!ReadFile(file.Get(), &text[got], static_cast<DWORD>(text.size() - got), &read, nullptr))
            return error = LastError(), OwnRead::Failed;
        if (read == 0) break;  // it shrank meanwhile
        got += read;
    }
    text.resize(got);
    return OwnRead::Read;
}

}  // namespace zavr
