// The progress of one file download on standard error. On a terminal: one line redrawn in place at
// most ten times a second, then a new line. Elsewhere: one line when the file ends.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace zavr {

class TransferProgress {
  public:
    explicit TransferProgress(std::string name);
    TransferProgress(const TransferProgress&) = delete;
    TransferProgress& operator=(const TransferProgress&) = delete;

    // libcurl's CURLOPT_XFERINFOFUNCTION, with this object as CURLOPT_XFERINFODATA. Always 0: it never
    // ends a transfer.
    static int Callback(void* self, std::int64_t total, std::int64_t now, std::int64_t, std::int64_t);

    // Finishes the display once the transfer has ended. Never fails.
    void Finish();

  private:
    void Draw(bool final);

    using Clock = std::chrono::steady_clock;
    std::string name_;
    bool terminal_;
    Clock::time_point start_;
    Clock::time_point lastDraw_;
    std::int64_t total_ = 0;
    std::int64_t received_ = 0;
    bool drawn_ = false;
    std::size_t drawnLength_ = 0;
};

// "1.5 MiB", "512 B": a byte count for people.
std::string HumanBytes(double bytes);

}  // namespace zavr
