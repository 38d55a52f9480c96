#include "server/progress.h"

#include "platform/terminal.h"

#include <cstdio>

namespace zavr {
namespace {

constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

std::string Duration(double seconds) {
    const long whole = static_cast<long>(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    return text;
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

TransferProgress::TransferProgress(std::string name)
    : name_(std::move(name)), terminal_(IsTerminal(2)), start_(Clock::now()), lastDraw_(start_) {}

int TransferProgress::Callback(void* self, std::int64_t total, std::int64_t now, std::int64_t, std::int64_t) {
    auto& progress = *static_cast<TransferProgress*>(self);
    progress.total_ = total;
    progress.received_ = now;
    if (!progress.terminal_) return 0;
    const Clock::time_point time = Clock::now();
    if (progress.drawn_ && time - progress.lastDraw_ < kRedrawInterval) return 0;
    progress.lastDraw_ = time;
    progress.Draw(false);
    return 0;
}

void TransferProgress::Finish() {
    Draw(true);
}

void TransferProgress::Draw(bool final) {
    const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
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
    if (terminal_) {
        // Pad over the rest of the last, possibly longer, text; not every console knows escapes.
        const std::size_t length = line.size();
        if (length < drawnLength_) line.append(drawnLength_ - length, ' ');
        drawnLength_ = length;
        std::fprintf(stderr, "\r%s%s", line.c_str(), final ? "\n" : "");
    } else if (final) {
        std::fprintf(stderr, "%s\n", line.c_str());
    }
    std::fflush(stderr);
    drawn_ = true;
}

}  // namespace zavr
