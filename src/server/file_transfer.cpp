#include "server/file_transfer.h"

#include <algorithm>
#include <boost/filesystem.hpp>
#include <cerrno>
#include <cstring>

#include "platform/disk_space.h"
#include "platform/own_file.h"
#include "server/file_digest.h"

namespace zavr {
namespace {

constexpr std::uint64_t kSpaceCheckBytes = std::uint64_t{4} << 20;

std::string FileName(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}

// "bytes 100-199/200" gives first 100 and complete 200; "bytes */200" gives complete 200. A part that
// is absent or unreadable is -1.
void ReadContentRange(const std::string& value, std::int64_t& first, std::int64_t& complete) {
    first = complete = -1;
    long long a = 0, b = 0, c = 0;
    if (std::sscanf(value.c_str(), " bytes %lld-%lld/%lld", &a, &b, &c) == 3 && a >= 0) {
        first = a;
        complete = c;
    } else if (std::sscanf(value.c_str(), " bytes */%lld", &c) == 1) {
        complete = c;
    }
}

bool StartsWithNoCase(const char* text, std::size_t length, const char* prefix) {
    const std::size_t n = std::strlen(prefix);
    if (length < n) return false;
    for (std::size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    return true;
}

}  // namespace

std::string PartialPath(const std::string& path) {
    return path + kPartialSuffix;
}

FileTransfer::FileTransfer(std::string url, std::string path, bool resume, const TransferLimits& limits,
                           HeldLines& lines, bool redraw, const std::string& root)
    : url_(std::move(url)),
      path_(std::move(path)),
      partial_(PartialPath(path_)),
      folder_(FolderOf(path_)),
      limits_(limits),
      lines_(lines),
      progress_(FileName(path_), lines, redraw) {
    const bool underRoot = !root.empty() && partial_.compare(0, root.size(), root) == 0;
    boost::system::error_code error;
    file_ =
        OpenOwnFile(underRoot ? root : folder_, underRoot ? partial_.substr(root.size()) : FileName(partial_),
                    resume ? OwnFileMode::Continue : OwnFileMode::Fresh, resumeFrom_, error);
    if (!file_) {
        Fail("I was unable to create the file on the disk",
             "I could not create " + partial_ + ": " + error.message() + ".", NextStep::CheckAccess);
        return;
    }
    const std::string escaped = EscapeSpaces(url_);
    handle_.reset(curl_easy_init());
    if (!handle_) {
        Fail("I was unable to download " + path_,
             "Downloading " + escaped + " to " + path_ + " failed: Failed to create CURL connection.",
             NextStep::RunAgain);
        return;
    }
    CURL* handle = handle_.get();
    curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, error_);
    curl_easy_setopt(handle, CURLOPT_URL, escaped.c_str());
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, Write);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, Header);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_NONE));
    WaitForSharedConnection(handle, escaped);
    curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, TransferProgress::Callback);
    curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &progress_);
    curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
    if (resumeFrom_ > 0) {
        const std::string range = std::to_string(resumeFrom_) + "-";
        curl_easy_setopt(handle, CURLOPT_RANGE, range.c_str());
    }
    SetCommonOptions(handle, limits_);
}

FileTransfer::~FileTransfer() = default;

std::size_t FileTransfer::Header(char* data, std::size_t size, std::size_t count, void* self) {
    auto& transfer = *static_cast<FileTransfer*>(self);
    const std::size_t bytes = size * count;
    // Each response of a redirect chain starts with its status line; only the last one's range counts.
    if (StartsWithNoCase(data, bytes, "http/")) transfer.contentRange_.clear();
    constexpr const char* kName = "content-range:";
    if (StartsWithNoCase(data, bytes, kName))
        transfer.contentRange_.assign(data + std::strlen(kName), bytes - std::strlen(kName));
    return bytes;
}

// What to do with the body, once the response code is known.
void FileTransfer::Decide() {
    long status = 0;
    curl_easy_getinfo(handle_.get(), CURLINFO_RESPONSE_CODE, &status);
    std::int64_t first = -1, complete = -1;
    ReadContentRange(contentRange_, first, complete);
    if (resumeFrom_ == 0) {
        body_ = status == 200 || status == 201 ? Body::Whole : Body::Discard;
    } else if (status == 206 && first == static_cast<std::int64_t>(resumeFrom_)) {
        body_ = Body::Append;
    } else if (status == 200) {
        // The whole file after all: the partial file starts again from nothing.
        body_ = EmptyOwnFile(file_.get()) ? Body::Whole : Body::StartOver;
    } else if (status == 416 && complete == static_cast<std::int64_t>(resumeFrom_)) {
        body_ = Body::Complete;  // the partial file had every byte; only its renaming was missing
    } else {
        body_ = Body::StartOver;
    }
    resumed_ = body_ == Body::Append || body_ == Body::Complete;
    if (resumed_ && !HashPartial()) prefixUnreadable_ = true;
}

// Feeds what the partial file holds already into the digest, read through the open file (never by
// its name again, which someone could have swapped meanwhile).
bool FileTransfer::HashPartial() {
    std::FILE* file = file_.get();
    if (std::fseek(file, 0, SEEK_SET) != 0) return false;
    bool ok = true;
    const std::uint64_t fed = FeedDigest(file, digest_, ok, resumeFrom_);
    return ok && fed == resumeFrom_ && std::fseek(file, 0, SEEK_END) == 0;
}

bool FileTransfer::KeepsReserve(std::uint64_t bytes) {
    // Checked at the first write (against the announced length) and then every few MiB.
    if (spaceChecked_ && sinceSpaceCheck_ + bytes < kSpaceCheckBytes) {
        sinceSpaceCheck_ += bytes;
        return true;
    }
    curl_off_t announced = -1;
    if (!spaceChecked_) curl_easy_getinfo(handle_.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
    const std::uint64_t coming = announced > 0 ? static_cast<std::uint64_t>(announced) : kSpaceCheckBytes;
    const std::uint64_t free = FreeDiskBytes(folder_);
    spaceChecked_ = true;
    sinceSpaceCheck_ = bytes;
    if (announced > 0 && coming > DiskSizeBytes(folder_)) {
        announcedTooLarge_ = static_cast<std::uint64_t>(announced);
        return false;
    }
    reserveReached_ = free < limits_.diskReserveBytes || free - limits_.diskReserveBytes < coming;
    return !reserveReached_;
}

std::size_t FileTransfer::Write(char* data, std::size_t size, std::size_t count, void* self) {
    auto& transfer = *static_cast<FileTransfer*>(self);
    const std::size_t bytes = size * count;
    if (transfer.body_ == Body::Undecided) transfer.Decide();
    switch (transfer.body_) {
        case Body::Discard:
        case Body::Complete:
            return bytes;  // an error page or a refusal: nothing to keep
        case Body::StartOver:
            return 0;  // ends the transfer at once
        default:
            break;
    }
    if (!transfer.KeepsReserve(bytes)) return 0;
    const std::size_t written = WriteToFile(data, size, count, transfer.file_.get());
    if (written != bytes) transfer.writeFailed_ = true;
    transfer.digest_.Update(reinterpret_cast<const unsigned char*>(data),
                            static_cast<std::uint32_t>(written));
    return written;
}

TransferEnd FileTransfer::Fail(const std::string& what, const std::string& why, NextStep step) {
    failureStep_ = step;
    lines_.Log(2, "Error in file download - " + what);
    lines_.Log(2, why);
    return TransferEnd::Failed;
}

TransferEnd FileTransfer::Finish(CURLcode code) {
    if (body_ == Body::Undecided && code == CURLE_OK) Decide();  // an empty body has no first write
    progress_.Finish();
    // Closing flushes the last bytes: on a full disk that is where the write fails.
    const bool closed = !file_ || std::fclose(file_.release()) == 0;
    const int closeError = errno;
    const std::string escaped = EscapeSpaces(url_);
    if (body_ == Body::StartOver) {
        lines_.Log(0, "The server did not continue " + partial_ + " where it ended; fetching it whole.");
        return TransferEnd::StartOver;
    }
    if (code != CURLE_OK || !closed) {
        // Nothing of the file is in the body of an error page; what came before the disk's limit goes.
        if (body_ == Body::Discard || announcedTooLarge_ > 0 || reserveReached_)
            std::remove(partial_.c_str());
        if (announcedTooLarge_ > 0)
            return Fail("I was unable to download " + path_,
                        "The server announces " + HumanBytes(static_cast<double>(announcedTooLarge_)) +
                            " for " + path_ + ", more than the whole disk that holds " + folder_ + " (" +
                            HumanBytes(static_cast<double>(DiskSizeBytes(folder_))) +
                            ") could ever hold, so I did not download it.",
                        NextStep::ServerFault);
        if (reserveReached_)
            return Fail("I was unable to download " + path_,
                        "The disk that holds " + folder_ + " is nearly full: I keep " +
                            HumanBytes(static_cast<double>(limits_.diskReserveBytes)) +
                            " of it free, so I stopped the download and removed what had arrived. Free some "
                            "space there and run me again.",
                        NextStep::FreeSpace);
        const std::string reason = code != CURLE_OK ? (error_[0] != '\0' ? error_ : curl_easy_strerror(code))
                                                    : std::strerror(closeError);
        const bool diskFull = writeFailed_ || !closed;
        return Fail("I was unable to download " + path_,
                    "Downloading " + escaped + " to " + path_ + " failed: " + reason + ".",
                    diskFull ? NextStep::FreeSpace : NextStep::CheckConnection);
    }
    if (prefixUnreadable_) {
        return Fail("I was unable to download " + path_,
                    "I could not read back " + partial_ + " to continue it.", NextStep::RunAgain);
    }
    if (body_ == Body::Discard) {
        long status = 0;
        curl_easy_getinfo(handle_.get(), CURLINFO_RESPONSE_CODE, &status);
        std::remove(partial_.c_str());
        return Fail("server provided abnormal response code " + std::to_string(status),
                    "Downloading " + escaped + " to " + path_ + " failed: the server answered " +
                        std::to_string(status) + ".",
                    NextStep::ServerFault);
    }
    boost::system::error_code error;
    boost::filesystem::rename(partial_, path_, error);
    if (error) {
        return Fail("I was unable to download " + path_,
                    "I could not rename " + partial_ + " to " + path_ + ": " + error.message() + ".",
                    NextStep::CheckAccess);
    }
    digest_.Finalize();
    digestText_ = digest_.HexDigest();
    lines_.Log(0, "OK: " + url_ + " downloaded to " + path_);
    return TransferEnd::Succeeded;
}

}  // namespace zavr
