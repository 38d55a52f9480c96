#include "server/progress.h"

#include <cstdio>

#include "platform/terminal.h"

namespace zavr {
namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

std::string Duration(double seconds) {
    const long whole = static_cast<long>(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    return text;
}

double SecondsBetween(std::chrono::steady_clock::time_point start,
                      std::chrono::steady_clock::time_point end) {
    return std::chrono::duration<double>(end - start).count();
}

}  // namespace

std::string HumanBytes(double bytes) {
    const char* units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    int unit = 0;
    while (bytes >= 1024.0 && unit < 4) {
        bytes /= 1024.0;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", bytes, units[unit]);
    return text;
}

void TerminalLine::Draw(std::string text, bool final) {
    // Pad over the rest of the last, possibly longer, text; not every console knows escapes.
    const std::size_t length = text.size();
    if (length < drawnLength_) text.append(drawnLength_ - length, ' ');
    drawnLength_ = final ? 0 : length;
    std::fprintf(stderr, "\r%s%s", text.c_str(), final ? "\n" : "");
    std::fflush(stderr);
}

void TerminalLine::Erase() {
    if (drawnLength_ == 0) return;
    std::fprintf(stderr, "\r%s\r", std::string(drawnLength_, ' ').c_str());
    std::fflush(stderr);
    drawnLength_ = 0;
}

TransferProgress::TransferProgress(std::string name, HeldLines& lines, bool redraw, ProgressClock now)
    : now_(now),
      name_(std::move(name)),
      lines_(lines),
      terminal_(IsTerminal(2)),
      redraw_(redraw),
      start_(now_()),
      lastDraw_(start_) {}

int TransferProgress::Callback(void* self, std::int64_t total, std::int64_t now, std::int64_t, std::int64_t) {
    auto& progress = *static_cast<TransferProgress*>(self);
    progress.total_ = total;
    progress.received_ = now;
    if (!progress.terminal_ || !progress.redraw_) return 0;
    const Clock::time_point time = progress.now_();
    if (progress.drawn_ && time - progress.lastDraw_ < kRedrawInterval) return 0;
    progress.lastDraw_ = time;
    progress.Draw(false);
    return 0;
}

void TransferProgress::Finish() {
    if (terminal_ && !redraw_) return;
    Draw(true);
}

void TransferProgress::Draw(bool final) {
    const double seconds = SecondsBetween(start_, now_());
    const double rate = seconds > 0 ? static_cast<double>(received_) / seconds : 0.0;
    std::string line = name_;
    if (total_ > 0 && !final) {
        char percent[16];
        std::snprintf(percent, sizeof percent, "  %3d%%", static_cast<int>(100 * received_ / total_));
        line += percent;
    }
    line += "  " + HumanBytes(static_cast<double>(received_));
    if (total_ > 0 && !final) line += " of " + HumanBytes(static_cast<double>(total_));
    line += "  " + HumanBytes(rate) + "/s";
    if (final)
        line += "  in " + Duration(seconds);
    else if (total_ > 0 && rate > 0)
        line += "  " + Duration(static_cast<double>(total_ - received_) / rate) + " left";
    if (terminal_)
        line_.Draw(std::move(line), final);
    else
        lines_.Console(std::move(line));
    drawn_ = true;
}

DownloadProgress::DownloadProgress(std::size_t files, std::int64_t expectedBytes, bool show,
                                   ProgressClock now)
    : now_(now),
      files_(files),
      expectedBytes_(expectedBytes),
      show_(show && IsTerminal(2)),
      start_(now_()),
      lastDraw_(start_) {}

void DownloadProgress::Update(std::size_t filesDone, std::int64_t bytesDone, std::int64_t bytesReceived) {
    filesDone_ = filesDone;
    bytesDone_ = bytesDone;
    bytesReceived_ = bytesReceived;
    if (!show_) return;
    const Clock::time_point time = now_();
    if (line_.Drawn() && time - lastDraw_ < kRedrawInterval) return;
    lastDraw_ = time;
    Draw(false);
}

void DownloadProgress::Erase() {
    if (show_) line_.Erase();
}

void DownloadProgress::Finish(std::size_t filesDone, std::int64_t bytesDone) {
    filesDone_ = filesDone;
    bytesDone_ = bytesDone;
    if (show_) Draw(true);
}

void DownloadProgress::Draw(bool final) {
    const double seconds = SecondsBetween(start_, now_());
    const double rate = seconds > 0 ? static_cast<double>(bytesReceived_) / seconds : 0.0;
    std::string line = "Downloading: " + std::to_string(filesDone_) + " of " + std::to_string(files_) +
                       " files  " + HumanBytes(static_cast<double>(bytesDone_));
    if (expectedBytes_ > 0) line += " of " + HumanBytes(static_cast<double>(expectedBytes_));
    line += "  " + HumanBytes(rate) + "/s";
    if (final)
        line += "  in " + Duration(seconds);
    else if (expectedBytes_ > bytesDone_ && rate > 0)
        line += "  " + Duration(static_cast<double>(expectedBytes_ - bytesDone_) / rate) + " left";
    line_.Draw(std::move(line), final);
}

}  // namespace zavr
