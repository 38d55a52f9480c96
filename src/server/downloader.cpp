#include "server/downloader.h"

#include <curl/curl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>

#include "log/held_lines.h"
#include "log/log.h"
#include "log/next_step.h"
#include "server/download_batch.h"
#include "server/downloader_connections.h"
#include "server/file_digest.h"
#include "server/progress.h"
#include "server/text_sink.h"

namespace zavr {
Downloader::Downloader()
    : connections_(std::make_unique<KeptConnections>(limits_.filesInFlight, limits_.streamsInFlight)) {}
Downloader::Downloader(TransferLimits limits)
    : limits_(std::move(limits)),
      connections_(std::make_unique<KeptConnections>(limits_.filesInFlight, limits_.streamsInFlight)) {}
Downloader::~Downloader() = default;
Downloader::Downloader(Downloader&&) noexcept = default;
Downloader& Downloader::operator=(Downloader&&) noexcept = default;

void SetCommonOptions(CURL* handle, const TransferLimits& limits) {
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, limits.connectTimeoutSeconds);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, limits.lowSpeedBytesPerSecond);
    curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, limits.lowSpeedSeconds);
    curl_easy_setopt(handle, CURLOPT_MAXREDIRS, 30L);
    curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    // No signal handlers swapped around every call (several per file): names are resolved on a thread,
    // so no alarm is needed for their timeout, and sockets are written without raising SIGPIPE.
    curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    if (!limits.caBundlePem.empty()) {
        // Only the built-in authorities: the blob replaces the library's bundle file, and its folder of
        // certificates (which Debian's libcurl sets) is dropped too. Not copied for every transfer (a
        // full bundle is hundreds of KiB): limits outlive the handle.
        curl_blob blob{const_cast<char*>(limits.caBundlePem.data()), limits.caBundlePem.size(),
                       CURL_BLOB_NOCOPY};
        curl_easy_setopt(handle, CURLOPT_CAINFO_BLOB, &blob);
        curl_easy_setopt(handle, CURLOPT_CAPATH, nullptr);
    }
}

void WaitForSharedConnection(CURL* handle, const std::string& url) {
    // Plain HTTP is never multiplexed here: waiting would only serialise the first transfers.
    if (url.compare(0, 8, "https://") == 0) curl_easy_setopt(handle, CURLOPT_PIPEWAIT, 1L);
}

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

bool Downloader::DownloadFile(const std::string& url, const std::string& path) {
    HeldLines lines(true);
    DownloadBatch batch(*connections_, limits_);
    if (!batch.Start(0, url, path, true, lines)) return false;
    DownloadProgress unseen(1, 0, false);
    for (;;) {
        const std::vector<DownloadBatch::Done> done = batch.Wait(unseen, 0, 0);
        if (!done.empty()) return done.front().ok;
        if (batch.InFlight() == 0) return false;  // never expected: Wait reports every end
    }
}

bool Downloader::FileDigestMatches(const std::string& path, const std::string& expected) const {
    HeldLines lines(true);
    return FileDigestMatches(path, expected, lines);
}

bool Downloader::FileDigestMatches(const std::string& path, const std::string& expected,
                                   HeldLines& lines) const {
    std::string computed;
    if (!FileDigestText(path, computed, lines)) return false;
    if (computed != expected) {
        lines.Log(0, "Server told me " + expected + " but I calculated " + computed);
        return false;
    }
    return true;
}

}  // namespace zavr
