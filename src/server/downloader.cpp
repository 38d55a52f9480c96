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
namespace {

struct CurlCleanup {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using CurlHandle = std::unique_ptr<CURL, CurlCleanup>;

}  // namespace

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
    if (!limits.caBundlePem.empty()) {
        // Only the built-in authorities: the blob replaces the library's bundle file, and its folder of
        // certificates (which Debian's libcurl sets) is dropped too.
        curl_blob blob{const_cast<char*>(limits.caBundlePem.data()), limits.caBundlePem.size(),
                       CURL_BLOB_COPY};
        curl_easy_setopt(handle, CURLOPT_CAINFO_BLOB, &blob);
        curl_easy_setopt(handle, CURLOPT_CAPATH, nullptr);
    }
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

std::string Downloader::FetchText(const std::string& url, long* status) const {
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
    // No kept connection: a reply is read only from a connection that carried nothing before it.
    SetCommonOptions(handle.get(), limits_);
    curl_easy_setopt(handle.get(), CURLOPT_TIMEOUT, limits_.textDeadlineSeconds);

    code = curl_easy_perform(handle.get());
    if (status != nullptr) {
        *status = 0;
        curl_easy_getinfo(handle.get(), CURLINFO_RESPONSE_CODE, status);
    }
    handle.reset();
    if (sink.outOfMemory) throw std::bad_alloc();
    if (sink.overflowed)
        throw UserFailure("Failed to get " + escaped + ", the reply was larger than " +
                              HumanBytes(static_cast<double>(limits_.maxTextBytes)) +
                              ", so I stopped reading it.",
                          NextStep::ServerFault);
    if (code != CURLE_OK) {
        // The buffer may be empty for some failures; the code's own text is better than nothing.
        const std::string reason = error[0] != '\0' ? std::string(error) : curl_easy_strerror(code);
        throw UserFailure("Failed to get " + escaped + ", " + reason, NextStep::CheckConnection);
    }
    return std::move(sink.text);
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
