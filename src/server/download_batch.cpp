#include "server/download_batch.h"

#include <algorithm>

#include "server/downloader_connections.h"
#include "server/file_transfer.h"

namespace zavr {

struct DownloadBatch::Slot {
    std::size_t id;
    HeldLines* lines;
    std::unique_ptr<FileTransfer> transfer;
};

DownloadBatch::DownloadBatch(KeptConnections& connections, const TransferLimits& limits, std::string ownRoot)
    : connections_(connections), limits_(limits), ownRoot_(std::move(ownRoot)) {
    connections_.DropTexts();  // their ends would be read, and lost, by Collect
}

DownloadBatch::~DownloadBatch() {
    for (const auto& slot : slots_) Remove(*slot);
    slots_.clear();
    queued_.clear();
    // After a failed transfer no kept connection is trusted: stray bytes on one could pass for the
    // next reply.
    if (anyFailed_) connections_.Reset();
}

std::size_t DownloadBatch::Limit() const {
    const bool streams = connections_.multiplexed && limits_.filesInFlight > 1;
    return std::max<std::size_t>(1, streams ? limits_.streamsInFlight : limits_.filesInFlight);
}

bool DownloadBatch::HasRoom() const {
    // Beyond the transfers in flight, as many again wait ready, so that one that ends is followed at
    // once; one after another, nothing of the next file is touched before the last one has ended.
    const std::size_t ready = limits_.filesInFlight > 1 ? Limit() : 0;
    return slots_.size() + queued_.size() < Limit() + ready;
}

bool DownloadBatch::Add(Slot& slot) {
    return curl_multi_add_handle(connections_.multi, slot.transfer->Handle()) == CURLM_OK;
}

void DownloadBatch::StartQueued(bool sendNow) {
    bool started = false;
    while (!queued_.empty() && slots_.size() < Limit()) {
        std::unique_ptr<Slot> slot = std::move(queued_.front());
        queued_.pop_front();
        if (!Add(*slot)) {
            slot->transfer->Finish(CURLE_FAILED_INIT);
            failedToStart_.push_back(slot->id);
            anyFailed_ = true;
            continue;
        }
        slots_.push_back(std::move(slot));
        started = true;
    }
    // Its request goes out now, not after the ended transfer has been dealt with; when more ends are
    // already waiting, the next round of the network sends it with the others' (on a fast network the
    // extra rounds would cost more than they save).
    int running = 0;
    if (started && sendNow) curl_multi_perform(connections_.multi, &running);
}

void DownloadBatch::Remove(Slot& slot) {
    if (slot.transfer && slot.transfer->Handle() != nullptr)
        curl_multi_remove_handle(connections_.multi, slot.transfer->Handle());
}

bool DownloadBatch::Start(std::size_t id, const std::string& url, const std::string& path, bool resume,
                          HeldLines& lines) {
    const bool alone = limits_.filesInFlight <= 1;
    auto slot = std::make_unique<Slot>(
        Slot{id, &lines, std::make_unique<FileTransfer>(url, path, resume, limits_, lines, alone, ownRoot_)});
    CURL* handle = slot->transfer->Handle();
    // The slot rides on its handle, so that an ended transfer leads straight to its job.
    const bool ready = handle != nullptr && curl_easy_setopt(handle, CURLOPT_PRIVATE, slot.get()) == CURLE_OK;
    if (ready && slots_.size() >= Limit()) {
        // The requests of those in flight go out before time is spent readying more.
        int running = 0;
        if (queued_.empty()) curl_multi_perform(connections_.multi, &running);
        queued_.push_back(std::move(slot));
        return true;
    }
    if (!ready || !Add(*slot)) {
        if (handle != nullptr) slot->transfer->Finish(CURLE_FAILED_INIT);
        anyFailed_ = true;
        return false;
    }
    slots_.push_back(std::move(slot));
    return true;
}

std::vector<DownloadBatch::Done> DownloadBatch::Wait(DownloadProgress& progress, std::size_t filesDone,
                                                     std::int64_t bytesDone) {
    CURLM* multi = connections_.multi;
    StartQueued(true);  // room grows once the server turns out to speak HTTP/2
    while (!slots_.empty() || !failedToStart_.empty()) {
        // Ends that the last round of the network already brought come first, without another round.
        std::vector<Done> done = Collect();
        int running = 0;
        const CURLMcode code = done.empty() ? curl_multi_perform(multi, &running) : CURLM_OK;
        if (done.empty()) done = Collect();
        if (code != CURLM_OK) {
            // The multi handle itself failed (out of memory): every transfer in flight ends with it.
            for (const auto& slot : slots_) {
                Remove(*slot);
                slot->transfer->Finish(CURLE_OUT_OF_MEMORY);
                done.push_back({slot->id, false, false, std::string(), NextStep::RunAgain});
            }
            for (const auto& slot : queued_) {
                slot->transfer->Finish(CURLE_OUT_OF_MEMORY);
                done.push_back({slot->id, false, false, std::string(), NextStep::RunAgain});
            }
            slots_.clear();
            queued_.clear();
            anyFailed_ = true;
        }
        std::int64_t arriving = 0;
        for (const auto& slot : slots_) arriving += slot->transfer->Received();
        progress.Update(filesDone, bytesDone + arriving, receivedByEnded_ + arriving);
        if (!done.empty()) return done;
        curl_multi_poll(multi, nullptr, 0, 100, nullptr);
    }
    return {};
}

std::vector<DownloadBatch::Done> DownloadBatch::Collect() {
    std::vector<Done> done;
    if (!failedToStart_.empty()) {
        done.push_back({failedToStart_.front(), false, false, std::string(), NextStep::RunAgain});
        failedToStart_.erase(failedToStart_.begin());
        return done;
    }
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(connections_.multi, &left)) {
        if (message->msg != CURLMSG_DONE) continue;
        Slot* job = nullptr;
        curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &job);
        const auto found = std::find_if(slots_.begin(), slots_.end(),
                                        [&](const std::unique_ptr<Slot>& slot) { return slot.get() == job; });
        if (found == slots_.end()) continue;
        const CURLcode result = message->data.result;  // message is invalid once the handle is removed
        NoteHttpVersion(connections_, message->easy_handle);
        std::unique_ptr<Slot> slot = std::move(*found);
        slots_.erase(found);
        Remove(*slot);
        StartQueued(left == 0);
        receivedByEnded_ += slot->transfer->Received();
        const TransferEnd end = slot->transfer->Finish(result);
        if (end == TransferEnd::StartOver) {
            const std::string url = slot->transfer->Url();
            const std::string path = slot->transfer->Path();
            slot->transfer.reset();
            if (!Start(slot->id, url, path, false, *slot->lines))
                done.push_back({slot->id, false, false, std::string(), NextStep::RunAgain});
            continue;
        }
        if (end == TransferEnd::Failed) anyFailed_ = true;
        done.push_back({slot->id, end == TransferEnd::Succeeded, slot->transfer->Resumed(),
                        slot->transfer->Digest(), slot->transfer->FailureStep()});
        // One at a time: the caller starts the next transfer before the next end is handled, so that
        // connections whose replies came together are not all kept waiting for the last of them.
        break;
    }
    return done;
}

}  // namespace zavr
