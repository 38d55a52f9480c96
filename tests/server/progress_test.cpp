// The download progress line as a terminal shows it.
#include "server/progress.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

namespace zavr {
namespace {

// Puts a pseudo-terminal on standard error for its lifetime and collects what is written to it.
class TerminalOnStderr {
  public:
    TerminalOnStderr() {
        if (::openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0)
            throw std::runtime_error("test: openpty");
        saved_ = ::dup(2);
        ::dup2(slave_, 2);
    }
    ~TerminalOnStderr() {
        ::dup2(saved_, 2);
        ::close(saved_);
        ::close(slave_);
        ::close(master_);
    }
    std::string Drain() {
        std::string text;
        char buffer[4096];
        ::fcntl(master_, F_SETFL, O_NONBLOCK);
        for (ssize_t got; (got = ::read(master_, buffer, sizeof buffer)) > 0;)
            text.append(buffer, static_cast<std::size_t>(got));
        return text;
    }

  private:
    int master_ = -1, slave_ = -1, saved_ = -1;
};

// The displays' time, moved on by the tests alone, so that no count depends on the machine's speed.
std::chrono::steady_clock::time_point fakeNow;
std::chrono::steady_clock::time_point FakeNow() {
    return fakeNow;
}

TEST(ProgressTest, ATerminalGetsOneLineRedrawnInPlaceAtMostTenTimesASecond) {
    TerminalOnStderr terminal;
    HeldLines lines(true);
    TransferProgress progress("big.bin", lines, true, &FakeNow);
    // libcurl calls back far more often than the display may change: here every 10 ms for 0.35 s.
    for (int call = 0; call < 35; ++call) {
        TransferProgress::Callback(&progress, 4 << 20, std::int64_t{call} * 1024, 0, 0);
        fakeNow += std::chrono::milliseconds(10);
    }
    progress.Finish();
    const std::string shown = terminal.Drain();
    std::size_t redraws = 0;  // each draw starts with a carriage return; the terminal adds one before "\n"
    for (std::size_t i = 0; i + 1 < shown.size(); ++i) redraws += shown[i] == '\r' && shown[i + 1] != '\n';
    EXPECT_EQ(redraws, 5u) << "at 0, 0.1, 0.2 and 0.3 s, and the final one";
    EXPECT_EQ(shown.find("\r\n"), shown.size() - 2) << "one new line, at the end";
    EXPECT_NE(shown.find("big.bin  "), std::string::npos);
    EXPECT_NE(shown.find("% "), std::string::npos) << "the size is known, so a percentage shows";
    EXPECT_NE(shown.find(" of 4.0 MiB"), std::string::npos) << shown;
    EXPECT_NE(shown.find(" left"), std::string::npos);
    EXPECT_NE(shown.find("  in 0:00"), std::string::npos) << "the final line says how long it took";
}

TEST(ProgressTest, TheWholeDownloadIsOneLineThatLogLinesCanClear) {
    TerminalOnStderr terminal;
    DownloadProgress progress(10, 10 << 20, true);
    progress.Update(3, 3 << 20, 3 << 20);
    const std::string first = terminal.Drain();
    EXPECT_EQ(first.rfind("\rDownloading: 3 of 10 files  3.0 MiB of 10.0 MiB  ", 0), 0u) << first;
    EXPECT_NE(first.find(" left"), std::string::npos) << first;
    progress.Erase();
    const std::string erased = terminal.Drain();
    EXPECT_EQ(erased, "\r" + std::string(first.size() - 1, ' ') + "\r") << "blank, and back to its start";
    progress.Finish(10, 10 << 20);  // the last file ended after the last update
    const std::string last = terminal.Drain();
    EXPECT_NE(last.find("Downloading: 10 of 10 files  10.0 MiB of 10.0 MiB  "), std::string::npos) << last;
    EXPECT_EQ(last.find("\r\n"), last.size() - 2) << "the last state stays, on a line of its own";
}

TEST(ProgressTest, HumanBytes) {
    EXPECT_EQ(HumanBytes(0), "0 B");
    EXPECT_EQ(HumanBytes(1023), "1023 B");
    EXPECT_EQ(HumanBytes(1536), "1.5 KiB");
    EXPECT_EQ(HumanBytes(5.0 * (1 << 30)), "5.0 GiB");
}

}  // namespace
}  // namespace zavr
