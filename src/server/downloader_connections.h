// The downloader's kept connections, for the texts and files it fetches: a libcurl multi handle, whose
// connection cache outlives each transfer, whether the server multiplexes streams on them, and the text
// queries that were started ahead of need. Texts and files never share the multi handle at one time: a
// file batch drops the texts still there (DropTexts), and ends its own transfers before it goes.
#pragma once

#include <curl/curl.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "server/text_sink.h"

namespace zavr {

struct CurlEasyCleanup {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using CurlEasy = std::unique_ptr<CURL, CurlEasyCleanup>;

// One text query on its way: its reply collects in sink; done once libcurl has ended it with result.
struct TextTransfer {
    std::string url;    // as asked, before its spaces were escaped
    std::string range;  // the bytes asked for, or empty for the whole reply
    CurlEasy handle;
    char error[CURL_ERROR_SIZE] = {};
    TextSink sink;
    bool done = false;
    CURLcode result = CURLE_OK;
};

struct KeptConnections {
    KeptConnections(std::size_t perHost, std::size_t streams)
        : perHost_(static_cast<long>(perHost)), streams_(static_cast<long>(streams)) {
        Open();
    }
    ~KeptConnections() { Close(); }
    KeptConnections(const KeptConnections&) = delete;
    KeptConnections& operator=(const KeptConnections&) = delete;
    // Drops every kept connection. Only while no file transfer is added.
    void Reset() {
        Close();
        Open();
    }
    // Ends every text query still in flight or not yet taken; their replies are lost.
    void DropTexts() {
        for (const auto& text : texts)
            if (multi != nullptr) curl_multi_remove_handle(multi, text->handle.get());
        texts.clear();
    }
    CURLM* multi = nullptr;
    bool multiplexed = false;                          // a transfer has come back over HTTP/2
    std::vector<std::unique_ptr<TextTransfer>> texts;  // in flight on multi, or done and not yet taken

  private:
    void Open() {
        multi = curl_multi_init();
        if (multi == nullptr) return;
        curl_multi_setopt(multi, CURLMOPT_PIPELINING, static_cast<long>(CURLPIPE_MULTIPLEX));
        curl_multi_setopt(multi, CURLMOPT_MAX_HOST_CONNECTIONS, perHost_);
        curl_multi_setopt(multi, CURLMOPT_MAX_CONCURRENT_STREAMS, streams_);
    }
    void Close() {
        DropTexts();
        if (multi != nullptr) curl_multi_cleanup(multi);
        multi = nullptr;
        multiplexed = false;
    }
    long perHost_;
    long streams_;
};

// Marks connections as multiplexed once an ended transfer came back over HTTP/2.
inline void NoteHttpVersion(KeptConnections& connections, CURL* ended) {
    long version = 0;
    if (curl_easy_getinfo(ended, CURLINFO_HTTP_VERSION, &version) == CURLE_OK &&
        version == CURL_HTTP_VERSION_2_0)
        connections.multiplexed = true;
}

}  // namespace zavr
