// What one piece of work has to say, held back until its turn: files fetched at the same time are
// still reported one after another, in the order of their list.
#pragma once

#include <string>
#include <vector>

namespace zavr {

class HeldLines {
  public:
    // Live lines are written at once; held ones wait for Release.
    explicit HeldLines(bool live = false) : live_(live) {}

    // A line of the log (see WriteLog). Never fails.
    void Log(int level, std::string text);
    // A line for standard error (a file's progress summary), kept in order with the log lines. Never
    // fails.
    void Console(std::string text);
    // Writes what was held, in order, and from then on writes at once. Never fails.
    void Release();
    // Whether lines wait for Release.
    bool Holding() const { return !held_.empty(); }

  private:
    struct Line {
        int level;  // kConsoleLine for standard error
        std::string text;
    };
    static constexpr int kConsoleLine = -1;
    void Write(const Line& line) const;

    bool live_;
    std::vector<Line> held_;
};

}  // namespace zavr
