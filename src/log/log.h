// The one log of a run: every message of level 1 or more goes, time-stamped, to the log file in the
// updater's data folder and then to standard output. Level 0 (detail) is discarded.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace zavr {

constexpr const char* kLogFileName = "zavr_updater_log.txt";
// Held by the run in progress, beside the log (see platform/run_lock.h).
constexpr const char* kRunLockFileName = "zavr_updater.lock";

// Writes "%Y/%m/%d %H:%M:%S [ZAVR <level>] <text>\n" to the log file and then to standard output, each
// flushed at once, with every control character of text (new lines included) shown as \xNN. Never fails:
// before OpenLog, or when the file could not be opened or written, the line reaches the console only.
void WriteLog(int level, std::string text);

// The same for lines that are all known already (level, text), written with one write to each stream.
// Never fails.
void WriteLogLines(const std::vector<std::pair<int, std::string>>& lines);

// A byte below 0x20, or 0x7f: written as \xNN in the log, and refused in a name. Never fails.
inline bool IsControlCharacter(char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
}

// Creates the data folder and opens the log file in it for appending. Throws std::runtime_error (its
// message already printed) when the data folder cannot be named or created. An unopenable file is
// not an error: lines then reach the console only.
void OpenLog();

// The path of the file the log writes to; empty before OpenLog.
std::string LogFilePath();

// The updater's data folder, ending in the separator: APPDATA + "\ZAVR\ZAVR Orvane\Updater\" (on
// POSIX, XDG_DATA_HOME and then $HOME/.local/share stand in for an unset APPDATA). When no variable
// names a folder, prints a sentence saying so and throws std::runtime_error with it.
std::string UpdaterFolder();

// Creates a folder and all its missing parents; returns quietly when it exists already. On failure
// prints "Error: cannot create directory <path>, error code <n>" and throws std::runtime_error with
// that text.
void EnsureDirectory(const std::string& path);

}  // namespace zavr
