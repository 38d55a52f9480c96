#include "server/downloader.h"

#include <curl/curl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>

#include "log/log.h"
#include "platform/c_file.h"
#include "platform/disk_space.h"
#include "server/file_digest.h"
#include "server/progress.h"

namespace zavr {
namespace {

struct CurlCleanup {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using CurlHandle = std::unique_ptr<CURL, CurlCleanup>;

// Where a download writes: the file, and what it takes to keep the disk's reserve.
struct FileSink {
    std::FILE* file;
    CURL* handle;
    std::string folder;  // checked for free space
    std::uint64_t reserve;
    std::uint64_t sinceCheck = 0;
    bool checked = false;
    bool reserveReached = false;
};

constexpr std::uint64_t kSpaceCheckBytes = std::uint64_t{4} << 20;

// Writes through WriteToFile, first making sure that what is announced, or what arrives, leaves the
// volume its reserve: checked at the first write (against the announced length) and then every few MiB.
std::size_t WriteKeepingReserve(char* data, std::size_t size, std::size_t count, void* target) {
    auto& sink = *static_cast<FileSink*>(target);
    const std::uint64_t bytes = std::uint64_t{size} * count;
    if (!sink.checked || sink.sinceCheck + bytes >= kSpaceCheckBytes) {
        curl_off_t announced = -1;
        if (!sink.checked) curl_easy_getinfo(sink.handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
        const std::uint64_t coming = announced > 0 ? static_cast<std::uint64_t>(announced) : kSpaceCheckBytes;
        const std::uint64_t free = FreeDiskBytes(sink.folder);
        sink.checked = true;
        sink.sinceCheck = 0;
        if (free < sink.reserve || free - sink.reserve < coming) {
            sink.reserveReached = true;
            return 0;
        }
    }
    sink.sinceCheck += bytes;
    return WriteToFile(data, size, count, sink.file);
}

// Options that every transfer shares beyond the ones the callers set: limits against a stalled or
// looping server, and only the protocols the updater speaks. Results are not examined: a refused
// option leaves libcurl's own default.
void SetCommonLimits(CURL* handle, const TransferLimits& limits, CURLSH* connections) {
    if (connections != nullptr) curl_easy_setopt(handle, CURLOPT_SHARE, connections);
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, limits.connectTimeoutSeconds);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, limits.lowSpeedBytesPerSecond);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, limits.lowSpeedSeconds);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, 30L);
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
}

std::string FileName(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}

void RemoveFile(const std::string& path) {
    std::remove(path.c_str());
}

}  // namespace

// A libcurl share that holds connections only; without one, every transfer opens its own.
struct Downloader::Connections {
    Connections() { Open(); }
    ~Connections() { Close(); }
    Connections(const Connections&) = delete;
    Connections& operator=(const Connections&) = delete;
    // Drops every kept connection: after a failed transfer none of them is trusted.
    void Reset() {
        Close();
        Open();
    }
    CURLSH* share = nullptr;

  private:
    void Open() {
        share = curl_share_init();
        if (share != nullptr) curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
    }
    void Close() {
        if (share != nullptr) curl_share_cleanup(share);
        share = nullptr;
    }
};

Downloader::Downloader() : connections_(std::make_unique<Connections>()) {}
Downloader::Downloader(TransferLimits limits)
    : limits_(limits), connections_(std::make_unique<Connections>()) {}
Downloader::~Downloader() = default;
Downloader::Downloader(Downloader&&) noexcept = default;
Downloader& Downloader::operator=(Downloader&&) noexcept = default;

std::string EscapeSpaces(const std::string& url) {
    std::string escaped;
    escaped.reserve(url.size());
    for (const char c : url) {
        if (c == ' ')
            escaped += "%20";
        else
            escaped += c;
    }
    return escaped;
}

std::size_t WriteToString(char* data, std::size_t size, std::size_t count, void* target) {
    if (target == nullptr) return 0;
    auto& sink = *static_cast<TextSink*>(target);
    const std::size_t bytes = size * count;
    if (bytes > sink.limit - sink.text.size()) {
        sink.overflowed = true;
        return 0;
    }
    try {
        sink.text.append(data, bytes);
    } catch (const std::bad_alloc&) {
        sink.outOfMemory = true;
        return 0;
    }
    return bytes;
}

std::size_t WriteToFile(char* data, std::size_t size, std::size_t count, void* target) {
    if (target == nullptr) {
        WriteLog(2, "No stream!");
        return 0;
    }
    return std::fwrite(data, size, count, static_cast<std::FILE*>(target));
}

std::string Downloader::FetchText(const std::string& url) const {
    const std::string escaped = EscapeSpaces(url);
    CurlHandle handle(curl_easy_init());
    if (!handle) throw std::runtime_error("Failed to create CURL connection");
    char error[CURL_ERROR_SIZE] = {};
    CURLcode code = curl_easy_setopt(handle.get(), CURLOPT_ERRORBUFFER, error);
    if (code != CURLE_OK) throw std::runtime_error("Failed to set error buffer: " + std::to_string(code));
    if (curl_easy_setopt(handle.get(), CURLOPT_URL, escaped.c_str()) != CURLE_OK)
        throw std::runtime_error(std::string("Failed to set URL: ") + error);
    if (curl_easy_setopt(handle.get(), CURLOPT_FOLLOWLOCATION, 1L) != CURLE_OK)
        throw std::runtime_error(std::string("Failed to set redirect option: ") + error);
    if (curl_easy_setopt(handle.get(), CURLOPT_WRITEFUNCTION, WriteToString) != CURLE_OK)
        throw std::runtime_error(std::string("Failed to set writer: ") + error);
    TextSink sink{std::string(), limits_.maxTextBytes};
    if (curl_easy_setopt(handle.get(), CURLOPT_WRITEDATA, &sink) != CURLE_OK)
        throw std::runtime_error(std::string("Failed to set write data: ") + error);
    // No shared connection: a reply is read only from a connection that carried nothing before it.
    SetCommonLimits(handle.get(), limits_, nullptr);
    curl_easy_setopt(handle.get(), CURLOPT_TIMEOUT, limits_.textDeadlineSeconds);

    code = curl_easy_perform(handle.get());
    handle.reset();
    if (sink.outOfMemory) throw std::bad_alloc();
    if (sink.overflowed)
        throw std::runtime_error("Failed to get " + escaped + ", the reply was larger than " +
                                 HumanBytes(static_cast<double>(limits_.maxTextBytes)) +
                                 ", so I stopped reading it.");
    if (code != CURLE_OK) {
        // The buffer may be empty for some failures; the code's own text is better than nothing.
        const std::string reason = error[0] != '\0' ? std::string(error) : curl_easy_strerror(code);
        throw std::runtime_error("Failed to get " + escaped + ", " + reason);
    }
    return std::move(sink.text);
}

bool Downloader::DownloadFile(const std::string& url, const std::string& path) const {
    CFile file(std::fopen(path.c_str(), "wb"));
    if (!file) {
        const int cause = errno;
        WriteLog(2, "Error in file download - I was unable to create the file on the disk");
        WriteLog(2, "I could not create " + path + ": " + std::strerror(cause) + ".");
        return false;
    }
    const std::string escaped = EscapeSpaces(url);
    CurlHandle handle(curl_easy_init());
    char error[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(handle.get(), CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(handle.get(), CURLOPT_URL, escaped.c_str());
    FileSink sink{file.get(), handle.get(), FolderOf(path), limits_.diskReserveBytes};
    curl_easy_setopt(handle.get(), CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(handle.get(), CURLOPT_WRITEFUNCTION, WriteKeepingReserve);
    curl_easy_setopt(handle.get(), CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(handle.get(), CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_NONE));
    TransferProgress progress(FileName(path));
    curl_easy_setopt(handle.get(), CURLOPT_XFERINFOFUNCTION, TransferProgress::Callback);
    curl_easy_setopt(handle.get(), CURLOPT_XFERINFODATA, &progress);
    curl_easy_setopt(handle.get(), CURLOPT_NOPROGRESS, 0L);
    SetCommonLimits(handle.get(), limits_, connections_ ? connections_->share : nullptr);

    const CURLcode code = curl_easy_perform(handle.get());
    progress.Finish();
    long status = 0;
    if (code == CURLE_OK) curl_easy_getinfo(handle.get(), CURLINFO_RESPONSE_CODE, &status);
    handle.reset();
    if (code != CURLE_OK && connections_) connections_->Reset();
    // Closing flushes the last bytes: on a full disk that is where the write fails.
    const bool closed = std::fclose(file.release()) == 0;
    const int closeError = errno;
    if (code != CURLE_OK || !closed) {
        WriteLog(2, "Error in file download - I was unable to download " + path);
        if (sink.reserveReached) {
            RemoveFile(path);
            WriteLog(2, "The disk that holds " + sink.folder + " is nearly full: I keep " +
                            HumanBytes(static_cast<double>(limits_.diskReserveBytes)) +
                            " of it free, so I stopped the download and removed what had arrived. Free some "
                            "space there and run me again.");
        } else {
            const std::string reason = code != CURLE_OK
                                           ? (error[0] != '\0' ? error : curl_easy_strerror(code))
                                           : std::strerror(closeError);
            WriteLog(2, "Downloading " + escaped + " to " + path + " failed: " + reason + ".");
        }
        return false;
    }
    if (status != 200 && status != 201) {
        WriteLog(2,
                 "Error in file download - server provided abnormal response code " + std::to_string(status));
        WriteLog(2, "Downloading " + escaped + " to " + path + " failed: the server answered " +
                        std::to_string(status) + ".");
        return false;
    }
    WriteLog(0, "OK: " + url + " downloaded to " + path);
    return true;
}

bool Downloader::FileDigestMatches(const std::string& path, const std::string& expected) const {
    std::string computed;
    if (!FileDigestText(path, computed)) return false;
    if (computed != expected) {
        WriteLog(0, "Server told me " + expected + " but I calculated " + computed);
        return false;
    }
    return true;
}

}  // namespace zavr
