// One file download on a libcurl easy handle of its own: the body goes to a partial file beside the
// target, which takes the target's name only once the transfer is complete. A partial file left by an
// interrupted transfer is continued with a Range request where the server allows it.
#pragma once

#include <curl/curl.h>

#include <cstdint>
#include <memory>
#include <string>

#include "log/held_lines.h"
#include "log/next_step.h"
#include "platform/c_file.h"
#include "server/downloader.h"
#include "server/downloader_connections.h"
#include "server/md5.h"
#include "server/progress.h"

namespace zavr {

// The name a download has until it is complete: the target's with this appended.
constexpr const char* kPartialSuffix = ".zavr-part";
std::string PartialPath(const std::string& path);

// How a transfer ended, once libcurl has said that it did.
enum class TransferEnd {
    Succeeded,  // the target holds the whole body
    Failed,     // the reason is in the lines
    StartOver,  // the server did not continue the partial file: fetch the file whole instead
};

class FileTransfer {
  public:
    // Prepares the handle; nothing is sent before the caller adds it to a multi handle. With resume,
    // a partial file left earlier is continued; without, it is started afresh. The partial file is one
    // of the updater's own (see platform/own_file.h), reached from root, a folder that path starts
    // with (its own folder when empty). Lines receive every report, redraw is TransferProgress's. Never
    // throws but std::bad_alloc: when the partial file cannot be opened, Handle() is null and the
    // reason is in the lines.
    FileTransfer(std::string url, std::string path, bool resume, const TransferLimits& limits,
                 HeldLines& lines, bool redraw, const std::string& root = std::string());
    ~FileTransfer();
    FileTransfer(const FileTransfer&) = delete;
    FileTransfer& operator=(const FileTransfer&) = delete;

    CURL* Handle() const { return handle_.get(); }
    const std::string& Url() const { return url_; }
    const std::string& Path() const { return path_; }
    bool Resumed() const { return resumed_; }
    // The MD5 digest text of the whole file, computed as it was written; empty unless Finish
    // succeeded.
    const std::string& Digest() const { return digestText_; }
    std::int64_t Received() const { return progress_.Received(); }
    // What the user can do about a failed transfer.
    NextStep FailureStep() const { return failureStep_; }

    // Closes the partial file and gives it the target's name when the whole body is in it; otherwise
    // reports what went wrong to the lines. code is libcurl's result of the transfer.
    TransferEnd Finish(CURLcode code);

  private:
    enum class Body { Undecided, Whole, Append, Complete, Discard, StartOver };
    static std::size_t Write(char* data, std::size_t size, std::size_t count, void* self);
    static std::size_t Header(char* data, std::size_t size, std::size_t count, void* self);
    void Decide();
    // Reports a failure in the two lines every failed download has: "Error in file download - " + what,
    // then why.
    TransferEnd Fail(const std::string& what, const std::string& why, NextStep step);
    bool HashPartial();
    bool KeepsReserve(std::uint64_t bytes);

    std::string url_;
    std::string path_;
    NextStep failureStep_ = NextStep::RunAgain;
    std::string partial_;
    std::string folder_;
    TransferLimits limits_;
    HeldLines& lines_;
    TransferProgress progress_;
    CFile file_;
    CurlEasy handle_;
    char error_[CURL_ERROR_SIZE] = {};
    std::uint64_t resumeFrom_ = 0;
    std::string contentRange_;
    Body body_ = Body::Undecided;
    bool resumed_ = false;
    bool writeFailed_ = false;
    // Fed with every byte of the file as it is written, so that it needs no second reading.
    Md5Digest digest_;
    bool prefixUnreadable_ = false;
    std::string digestText_;
    std::uint64_t sinceSpaceCheck_ = 0;
    bool spaceChecked_ = false;
    bool reserveReached_ = false;
    std::uint64_t announcedTooLarge_ = 0;  // a length announced beyond the volume's size
};

}  // namespace zavr
