// Download progress on standard error. On a terminal: one line redrawn in place at most ten times a
// second, for one file or for the whole download. Elsewhere: one line for each file when it ends.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "log/held_lines.h"

namespace zavr {

// Where the progress displays read the time; tests give their own clock.
using ProgressClock = std::chrono::steady_clock::time_point (*)();

// One line of a terminal that is redrawn in place.
class TerminalLine {
  public:
    // Writes text over the line; a final one ends it with a new line. Never fails.
    void Draw(std::string text, bool final);
    // Blanks the line so that other output can start at its beginning. Never fails.
    void Erase();
    bool Drawn() const { return drawnLength_ > 0; }

  private:
    std::size_t drawnLength_ = 0;
};

// The progress of one file.
class TransferProgress {
  public:
    // The summary line goes to lines; redraw says whether a terminal shows this file on its own line
    // (the whole download's line takes its place when files travel together).
    TransferProgress(std::string name, HeldLines& lines, bool redraw,
                     ProgressClock now = &std::chrono::steady_clock::now);
    TransferProgress(const TransferProgress&) = delete;
    TransferProgress& operator=(const TransferProgress&) = delete;

    // libcurl's CURLOPT_XFERINFOFUNCTION, with this object as CURLOPT_XFERINFODATA. Always 0: it never
    // ends a transfer.
    static int Callback(void* self, std::int64_t total, std::int64_t now, std::int64_t, std::int64_t);

    // Finishes the display once the transfer has ended. Never fails.
    void Finish();

    std::int64_t Received() const { return received_; }

  private:
    void Draw(bool final);

    using Clock = std::chrono::steady_clock;
    ProgressClock now_;
    std::string name_;
    HeldLines& lines_;
    bool terminal_;
    bool redraw_;
    Clock::time_point start_;
    Clock::time_point lastDraw_;
    std::int64_t total_ = 0;
    std::int64_t received_ = 0;
    bool drawn_ = false;
    TerminalLine line_;
};

// The whole download on one terminal line: files done of n, bytes, rate and time left. Shows nothing
// off a terminal, where each file has its own line.
class DownloadProgress {
  public:
    DownloadProgress(std::size_t files, std::int64_t expectedBytes, bool show,
                     ProgressClock now = &std::chrono::steady_clock::now);

    // Records the state and redraws at most ten times a second. Never fails.
    void Update(std::size_t filesDone, std::int64_t bytesDone, std::int64_t bytesReceived);
    // Blanks the line before log lines are written; the next Update draws it again. Never fails.
    void Erase();
    // Draws the final state, the files and bytes of the whole download (the last Update may not have
    // seen the last file end), and ends the line. Never fails.
    void Finish(std::size_t filesDone, std::int64_t bytesDone);

  private:
    void Draw(bool final);

    using Clock = std::chrono::steady_clock;
    ProgressClock now_;
    std::size_t files_;
    std::int64_t expectedBytes_;
    bool show_;
    Clock::time_point start_;
    Clock::time_point lastDraw_;
    std::size_t filesDone_ = 0;
    std::int64_t bytesDone_ = 0;
    std::int64_t bytesReceived_ = 0;
    TerminalLine line_;
};

// "1.5 MiB", "512 B": a byte count for people.
std::string HumanBytes(double bytes);

}  // namespace zavr
