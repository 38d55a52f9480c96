// Text queries over the downloader's kept connections: one asked for and awaited, or several started at
// once ahead of need, so that their round trips overlap and later ones ride on a connection (and its TLS
// session) that is already open.
#include <curl/curl.h>

#include <algorithm>
#include <new>
#include <stdexcept>

#include "log/next_step.h"
#include "server/downloader.h"
#include "server/downloader_connections.h"
#include "server/progress.h"

namespace zavr {
namespace {

// A query for url, ready to be added to a multi handle. Throws std::runtime_error "Failed to create
// CURL connection" or "Failed to set ...: ..." when libcurl refuses it.
std::unique_ptr<TextTransfer> NewTextTransfer(const TextQuery& query, const TransferLimits& limits) {
    const std::string& url = query.url;
    auto transfer = std::make_unique<TextTransfer>();
    transfer->url = url;
    transfer->range = query.range;
    transfer->sink.limit = query.maxBytes > 0 ? query.maxBytes : limits.maxTextBytes;
    transfer->handle.reset(curl_easy_init());
    CURL* handle = transfer->handle.get();
    if (handle == nullptr) throw std::runtime_error("Failed to create CURL connection");
    const char* error = transfer->error;
    CURLcode code = curl_easy_setopt(handle, CURLOPT_ERRORBUFFER, transfer->error);
    if (code != CURLE_OK) throw std::runtime_error("Failed to set error buffer: " + std::to_string(code));
    const std::string escaped = EscapeSpaces(url);
    if (curl_easy_setopt(handle, CURLOPT_URL, escaped.c_str()) != CURLE_OK)
        throw std::runtime_error(std::string("Failed to set URL: ") + error);
    if (curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L) != CURLE_OK)
        throw std::runtime_error(std::string("Failed to set redirect option: ") + error);
    if (curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, WriteToString) != CURLE_OK)
        throw std::runtime_error(std::string("Failed to set writer: ") + error);
    if (curl_easy_setopt(handle, CURLOPT_WRITEDATA, &transfer->sink) != CURLE_OK)
        throw std::runtime_error(std::string("Failed to set write data: ") + error);
    if (!query.range.empty() && curl_easy_setopt(handle, CURLOPT_RANGE, query.range.c_str()) != CURLE_OK)
        throw std::runtime_error(std::string("Failed to set range: ") + error);
    SetCommonOptions(handle, limits);
    WaitForSharedConnection(handle, escaped);
    curl_easy_setopt(handle, CURLOPT_TIMEOUT, limits.textDeadlineSeconds);
    curl_easy_setopt(handle, CURLOPT_PRIVATE, transfer.get());
    return transfer;
}

// Adds a query for url to the kept connections. Throws what NewTextTransfer throws, and
// std::runtime_error "Failed to create CURL connection" when the multi handle refuses it.
void AddTextTransfer(KeptConnections& connections, const TextQuery& query, const TransferLimits& limits) {
    std::unique_ptr<TextTransfer> transfer = NewTextTransfer(query, limits);
    if (connections.multi == nullptr ||
        curl_multi_add_handle(connections.multi, transfer->handle.get()) != CURLM_OK)
        throw std::runtime_error("Failed to create CURL connection");
    connections.texts.push_back(std::move(transfer));
}

// Runs the multi handle until transfer has ended; every other text query in flight moves on meanwhile.
// False when the multi handle itself failed.
bool RunUntilDone(KeptConnections& connections, const TextTransfer& transfer) {
    while (!transfer.done) {
        int running = 0;
        if (curl_multi_perform(connections.multi, &running) != CURLM_OK) return false;
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(connections.multi, &left)) {
            if (message->msg != CURLMSG_DONE) continue;
            TextTransfer* ended = nullptr;
            curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &ended);
            const CURLcode result = message->data.result;  // message is invalid once the handle is removed
            for (const auto& text : connections.texts) {
                if (text.get() != ended) continue;
                curl_multi_remove_handle(connections.multi, text->handle.get());
                text->done = true;
                text->result = result;
                NoteHttpVersion(connections, text->handle.get());
            }
        }
        if (!transfer.done) curl_multi_poll(connections.multi, nullptr, 0, 1000, nullptr);
    }
    return true;
}

}  // namespace

void Downloader::Prefetch(const std::vector<std::string>& urls) const {
    std::vector<TextQuery> queries;
    for (const std::string& url : urls) queries.push_back({url, std::string(), 0});
    Prefetch(queries);
}

void Downloader::Prefetch(const std::vector<TextQuery>& queries) const {
    for (const TextQuery& query : queries) {
        try {
            AddTextTransfer(*connections_, query, limits_);
        } catch (const std::runtime_error&) {
            // FetchText meets the same refusal and reports it
        }
    }
}

void Downloader::DropPrefetched() const {
    connections_->DropTexts();
}

std::string Downloader::FetchText(const std::string& url, long* status) const {
    return FetchText(TextQuery{url, std::string(), 0}, status);
}

std::string Downloader::FetchText(const TextQuery& query, long* status) const {
    KeptConnections& connections = *connections_;
    const std::string escaped = EscapeSpaces(query.url);
    auto found = std::find_if(connections.texts.begin(), connections.texts.end(),
                              [&](const std::unique_ptr<TextTransfer>& text) {
                                  return text->url == query.url && text->range == query.range;
                              });
    if (found == connections.texts.end()) {
        AddTextTransfer(connections, query, limits_);
        found = connections.texts.end() - 1;
    }
    const bool ran = RunUntilDone(connections, **found);
    const std::unique_ptr<TextTransfer> transfer = std::move(*found);
    connections.texts.erase(found);
    if (!ran) {
        curl_multi_remove_handle(connections.multi, transfer->handle.get());
        throw UserFailure("Failed to get " + escaped + ", " + curl_easy_strerror(CURLE_OUT_OF_MEMORY),
                          NextStep::RunAgain);
    }
    if (status != nullptr) {
        *status = 0;
        curl_easy_getinfo(transfer->handle.get(), CURLINFO_RESPONSE_CODE, status);
    }
    const TextSink& sink = transfer->sink;
    if (sink.outOfMemory) throw std::bad_alloc();
    if (sink.overflowed)
        throw UserFailure("Failed to get " + escaped + ", the reply was larger than " +
                              HumanBytes(static_cast<double>(sink.limit)) + ", so I stopped reading it.",
                          NextStep::ServerFault);
    if (transfer->result != CURLE_OK) {
        // The buffer may be empty for some failures; the code's own text is better than nothing.
        const std::string reason =
            transfer->error[0] != '\0' ? std::string(transfer->error) : curl_easy_strerror(transfer->result);
        throw UserFailure("Failed to get " + escaped + ", " + reason, NextStep::CheckConnection);
    }
    return std::move(transfer->sink.text);
}

}  // namespace zavr
