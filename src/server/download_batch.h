// File downloads in flight at once, driven on the calling thread through libcurl's multi interface and
// a downloader's kept connections: at most the limits' filesInFlight HTTP/1.1 connections, or, once the
// server has answered over HTTP/2, up to streamsInFlight streams of one connection.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "log/held_lines.h"
#include "log/next_step.h"
#include "server/downloader.h"
#include "server/progress.h"

namespace zavr {

class FileTransfer;
struct KeptConnections;

class DownloadBatch {
  public:
    struct Done {
        std::size_t id;
        bool ok;             // the target holds the whole body; its digest is still to be checked
        bool resumed;        // part of it came from an earlier, interrupted transfer
        std::string digest;  // MD5 digest text of what the target holds, when ok
        NextStep step;       // what the user can do, when not ok
    };

    // Transfers run over connections (Downloader::Connections), under limits; both must outlive the
    // batch. Text queries still there are dropped. Partial files are reached from ownRoot, a folder that
    // every target path starts with (each target's own folder when empty; see FileTransfer).
    DownloadBatch(KeptConnections& connections, const TransferLimits& limits,
                  std::string ownRoot = std::string());
    // Stops every transfer still in flight; what they fetched stays in their partial files. After a
    // failed transfer it drops every kept connection.
    ~DownloadBatch();
    DownloadBatch(const DownloadBatch&) = delete;
    DownloadBatch& operator=(const DownloadBatch&) = delete;

    // Whether Start takes one more transfer now: into flight, or ready to follow one that ends.
    bool HasRoom() const;
    std::size_t InFlight() const { return slots_.size() + queued_.size(); }

    // Starts fetching url into path (see FileTransfer; resume continues a partial file), or readies it
    // to start as soon as a transfer in flight ends. Every report goes to lines, which must outlive the
    // transfer. False, with the reason in lines, when the transfer could not start.
    bool Start(std::size_t id, const std::string& url, const std::string& path, bool resume,
               HeldLines& lines);

    // Runs the transfers until one has ended and returns it (none when nothing is in flight); others
    // that ended meanwhile are returned by the next calls. progress is redrawn meanwhile, from filesDone and
    // bytesDone of the finished files and what is arriving. A transfer that the server would not continue is
    // restarted whole here and is not among them.
    std::vector<Done> Wait(DownloadProgress& progress, std::size_t filesDone, std::int64_t bytesDone);

  private:
    struct Slot;
    std::size_t Limit() const;
    bool Add(Slot& slot);
    void StartQueued(bool sendNow);
    std::vector<Done> Collect();
    void Remove(Slot& slot);

    KeptConnections& connections_;
    const TransferLimits& limits_;
    const std::string ownRoot_;
    std::vector<std::unique_ptr<Slot>> slots_;  // in flight
    std::deque<std::unique_ptr<Slot>> queued_;  // ready, waiting for room
    std::vector<std::size_t> failedToStart_;    // ids of ready transfers that could not start
    std::int64_t receivedByEnded_ = 0;
    bool anyFailed_ = false;
};

}  // namespace zavr
