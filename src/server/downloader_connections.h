// The downloader's kept connections, for the files it fetches: a libcurl multi handle, whose
// connection cache outlives each transfer.
#pragma once

#include <curl/curl.h>

#include <cstddef>

namespace zavr {

struct KeptConnections {
    explicit KeptConnections(std::size_t perHost) : perHost_(static_cast<long>(perHost)) { Open(); }
    ~KeptConnections() { Close(); }
    KeptConnections(const KeptConnections&) = delete;
    KeptConnections& operator=(const KeptConnections&) = delete;
    // Drops every kept connection. Only while no transfer is added.
    void Reset() {
        Close();
        Open();
    }
    CURLM* multi = nullptr;

  private:
    void Open() {
        multi = curl_multi_init();
        if (multi == nullptr) return;
        curl_multi_setopt(multi, CURLMOPT_PIPELINING, static_cast<long>(CURLPIPE_MULTIPLEX));
        curl_multi_setopt(multi, CURLMOPT_MAX_HOST_CONNECTIONS, perHost_);
    }
    void Close() {
        if (multi != nullptr) curl_multi_cleanup(multi);
        multi = nullptr;
    }
    long perHost_;
};

}  // namespace zavr
