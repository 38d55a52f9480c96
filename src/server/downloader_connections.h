// The downloader's kept connections, for the files it fetches: a libcurl multi handle, whose
// connection cache outlives each transfer, and whether the server multiplexes streams on them.
#pragma once

#include <curl/curl.h>

#include <cstddef>

namespace zavr {

struct KeptConnections {
    KeptConnections(std::size_t perHost, std::size_t streams)
        : perHost_(static_cast<long>(perHost)), streams_(static_cast<long>(streams)) {
        Open();
    }
    ~KeptConnections() { Close(); }
    KeptConnections(const KeptConnections&) = delete;
    KeptConnections& operator=(const KeptConnections&) = delete;
    // Drops every kept connection. Only while no transfer is added.
    void Reset() {
        Close();
        Open();
    }
    CURLM* multi = nullptr;
    bool multiplexed = false;  // a transfer has come back over HTTP/2

  private:
    void Open() {
        multi = curl_multi_init();
        if (multi == nullptr) return;
        curl_multi_setopt(multi, CURLMOPT_PIPELINING, static_cast<long>(CURLPIPE_MULTIPLEX));
        curl_multi_setopt(multi, CURLMOPT_MAX_HOST_CONNECTIONS, perHost_);
        curl_multi_setopt(multi, CURLMOPT_MAX_CONCURRENT_STREAMS, streams_);
    }
    void Close() {
        if (multi != nullptr) curl_multi_cleanup(multi);
        multi = nullptr;
        multiplexed = false;
    }
    long perHost_;
    long streams_;
};

}  // namespace zavr
