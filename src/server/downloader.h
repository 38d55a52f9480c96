// All traffic with the update server: a text fetched into memory, or files fetched to disk (several at
// once: see server/download_batch.h). Each transfer has a libcurl easy handle of its own.
#pragma once

#include <curl/curl.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "log/held_lines.h"

namespace zavr {

struct KeptConnections;

// Limits that keep a stalled, slow or hostile server from holding the updater for ever or filling the
// disk, and how the transfers are made.
struct TransferLimits {
    long connectTimeoutSeconds = 30;
    long lowSpeedBytesPerSecond = 1024;  // a transfer slower than this ...
    long lowSpeedSeconds = 60;           // ... for this long is abandoned
    long textDeadlineSeconds = 120;      // a text query takes no longer than this in all
    std::size_t maxTextBytes = std::size_t{64} << 20;
    // A download stops while the volume it writes to still has this much free.
    std::uint64_t diskReserveBytes = std::uint64_t{100} << 20;
    // Files fetched at the same time; 1 fetches them one after another.
    std::size_t filesInFlight = 1;
    // Files fetched at the same time as streams of one HTTP/2 connection, once the server has answered
    // over HTTP/2 (and libcurl keeps within the streams the server allows); only when filesInFlight is
    // above 1. A stream costs the server far less than a connection, and a round trip each no longer
    // limits many small files.
    std::size_t streamsInFlight = 64;
    // The certificate authorities to trust, in PEM, instead of the library's own store; empty keeps the
    // library's.
    std::string caBundlePem;
};

// Sets what every transfer shares beyond its own options: the limits above, the trusted authorities
// and only the protocols the updater speaks. limits must outlive the handle, which reads its
// authorities in place. Results are not examined: a refused option leaves libcurl's own default.
void SetCommonOptions(CURL* handle, const TransferLimits& limits);

// Over HTTPS, makes a transfer wait for a connection being opened to the same server, which may carry
// it as one more HTTP/2 stream, rather than open one more. Never fails.
void WaitForSharedConnection(CURL* handle, const std::string& url);

// Every space of url replaced by "%20"; nothing else changes.
std::string EscapeSpaces(const std::string& url);

// A text query: a reply, or bytes of it, held in memory.
struct TextQuery {
    std::string url;
    std::string range;         // "first-last", bytes counted from 0, or empty for the whole reply
    std::size_t maxBytes = 0;  // the most the reply may hold; 0 for the limits' maxTextBytes
};

class Downloader {
  public:
    Downloader();
    explicit Downloader(TransferLimits limits);
    ~Downloader();
    Downloader(Downloader&&) noexcept;
    Downloader& operator=(Downloader&&) noexcept;

    // The reply body, byte for byte, whatever the response code, over the kept connections (libcurl
    // reads a reply only from a connection whose earlier reply ended cleanly, and drops one with stray
    // bytes). A query that Prefetch started for the same url is taken instead of asking again. Throws
    // std::runtime_error: "Failed to create CURL connection", "Failed to set ...: ..." when an option is
    // refused, and "Failed to get <escaped url>, <reason>" when the transfer fails, takes longer than the
    // deadline or exceeds the size limit. status, when given, receives the final response code.
    std::string FetchText(const std::string& url, long* status = nullptr) const;
    // The same for query: a range is asked for with a Range header, and a reply beyond the query's
    // maxBytes fails as one beyond the limit does. The reply code tells whether the server honoured
    // the range (206).
    std::string FetchText(const TextQuery& query, long* status = nullptr) const;
    // Starts the text queries for urls at once, for FetchText to take later, so that their round trips
    // overlap. Never throws: a query that cannot start is left for FetchText to ask and report. Queries
    // not taken before the next file download starts are dropped.
    void Prefetch(const std::vector<std::string>& urls) const;
    void Prefetch(const std::vector<TextQuery>& queries) const;
    // Ends the queries that Prefetch started and FetchText has not taken. Never fails.
    void DropPrefetched() const;

    // Fetches url into the file at path, through its partial file (see server/file_transfer.h), which
    // is continued where an earlier transfer left it if the server allows. True only when the transfer
    // completed with a final response code of 200 or 201 (206 for a continued file). Never throws: a
    // failure is logged at level 2, followed by a level-2 line with the path and the reason; whatever
    // arrived stays in the partial file, except when the disk ran into its reserve or the server
    // answered with an error, it is then removed. A connection whose transfer failed is not used again.
    bool DownloadFile(const std::string& url, const std::string& path);

    // True when the MD5 digest text of the file equals expected exactly. A file that cannot be opened
    // or read gives false and a level-2 line naming it; it is never hashed as if it were empty.
    bool FileDigestMatches(const std::string& path, const std::string& expected) const;
    // The same, reporting to lines.
    bool FileDigestMatches(const std::string& path, const std::string& expected, HeldLines& lines) const;

    const TransferLimits& Limits() const { return limits_; }
    std::size_t FilesInFlight() const { return limits_.filesInFlight; }
    // What every write of the update leaves free on its volume.
    std::uint64_t DiskReserveBytes() const { return limits_.diskReserveBytes; }
    // The connections that file downloads share (see server/download_batch.h).
    KeptConnections& Connections() { return *connections_; }

  private:
    TransferLimits limits_;
    // Open connections, kept from one file to the next so that a file list of thousands of files does
    // not pay for a new connection per file. Each transfer still has an easy handle of its own.
    std::unique_ptr<KeptConnections> connections_;
};

// libcurl write callbacks: append to the target TextSink (server/text_sink.h; refusing what would pass
// its limit), or
// write to the target FILE. They return the bytes handled; any other amount (0 for a null target)
// makes libcurl end the transfer with a write error.
std::size_t WriteToString(char* data, std::size_t size, std::size_t count, void* target);
std::size_t WriteToFile(char* data, std::size_t size, std::size_t count, void* target);

}  // namespace zavr
