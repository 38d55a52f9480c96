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

DownloadBatch::DownloadBatch(const Downloader& downloader, std::string ownRoot)
    : downloader_(downloader), ownRoot_(std::move(ownRoot)) {}

DownloadBatch::~DownloadBatch() {
    for (const auto& slot : slots_) Remove(*slot);
    slots_.clear();
    // After a failed transfer no kept connection is trusted: stray bytes on one could pass for the
    // next reply.
    if (anyFailed_) downloader_.connections_->Reset();
}

bool DownloadBatch::HasRoom() const {
    return slots_.size() < std::max<std::size_t>(1, downloader_.limits_.filesInFlight);
}

void DownloadBatch::Remove(Slot& slot) {
    if (slot.transfer && slot.transfer->Handle() != nullptr)
        curl_multi_remove_handle(downloader_.connections_->multi, slot.transfer->Handle());
}

bool DownloadBatch::Start(std::size_t id, const std::string& url, const std::string& path, bool resume,
                          HeldLines& lines) {
    const bool alone = downloader_.limits_.filesInFlight <= 1;
    auto transfer =
        std::make_unique<FileTransfer>(url, path, resume, downloader_.limits_, lines, alone, ownRoot_);
    if (transfer->Handle() == nullptr ||
        curl_multi_add_handle(downloader_.connections_->multi, transfer->Handle()) != CURLM_OK) {
        if (transfer->Handle() != nullptr) transfer->Finish(CURLE_FAILED_INIT);
        anyFailed_ = true;
        return false;
    }
    slots_.push_back(std::make_unique<Slot>(Slot{id, &lines, std::move(transfer)}));
    return true;
}

std::vector<DownloadBatch::Done> DownloadBatch::Wait(DownloadProgress& progress, std::size_t filesDone,
                                                     std::int64_t bytesDone) {
    CURLM* multi = downloader_.connections_->multi;
    while (!slots_.empty()) {
        int running = 0;
        const CURLMcode code = curl_multi_perform(multi, &running);
        std::vector<Done> done = Collect();
        if (code != CURLM_OK) {
            // The multi handle itself failed (out of memory): every transfer in flight ends with it.
            for (const auto& slot : slots_) {
                Remove(*slot);
                slot->transfer->Finish(CURLE_OUT_OF_MEMORY);
                done.push_back({slot->id, false, false, std::string()});
            }
            slots_.clear();
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
    CURLM* multi = downloader_.connections_->multi;
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
        if (message->msg != CURLMSG_DONE) continue;
        const auto found = std::find_if(slots_.begin(), slots_.end(), [&](const auto& slot) {
            return slot->transfer->Handle() == message->easy_handle;
        });
        if (found == slots_.end()) continue;
        const CURLcode result = message->data.result;  // message is invalid once the handle is removed
        std::unique_ptr<Slot> slot = std::move(*found);
        slots_.erase(found);
        Remove(*slot);
        receivedByEnded_ += slot->transfer->Received();
        const TransferEnd end = slot->transfer->Finish(result);
        if (end == TransferEnd::StartOver) {
            const std::string url = slot->transfer->Url();
            const std::string path = slot->transfer->Path();
            slot->transfer.reset();
            if (!Start(slot->id, url, path, false, *slot->lines))
                done.push_back({slot->id, false, false, std::string()});
            continue;
        }
        if (end == TransferEnd::Failed) anyFailed_ = true;
        done.push_back(
            {slot->id, end == TransferEnd::Succeeded, slot->transfer->Resumed(), slot->transfer->Digest()});
    }
    return done;
}

}  // namespace zavr
