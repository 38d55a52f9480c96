#include "log/held_lines.h"

#include <cstdio>

#include "log/log.h"

namespace zavr {

void HeldLines::Log(int level, std::string text) {
    if (level == 0) return;  // the log discards detail; holding it would only cost memory
    Line line{level, std::move(text)};
    if (live_)
        Write(line);
    else
        held_.push_back(std::move(line));
}

void HeldLines::Console(std::string text) {
    Line line{kConsoleLine, std::move(text)};
    if (live_)
        Write(line);
    else
        held_.push_back(std::move(line));
}

void HeldLines::Release() {
    // Runs of log lines go out as one block each: a file's lines cost two writes, not two per line.
    std::vector<std::pair<int, std::string>> run;
    for (Line& line : held_) {
        if (line.level != kConsoleLine) {
            run.emplace_back(line.level, std::move(line.text));
            continue;
        }
        WriteLogLines(run);
        run.clear();
        Write(line);
    }
    WriteLogLines(run);
    held_.clear();
    held_.shrink_to_fit();
    live_ = true;
}

void HeldLines::Write(const Line& line) const {
    if (line.level != kConsoleLine) {
        WriteLog(line.level, line.text);
        return;
    }
    std::fprintf(stderr, "%s\n", line.text.c_str());
    std::fflush(stderr);
}

}  // namespace zavr
