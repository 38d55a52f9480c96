#include "log/log.h"

#include <boost/filesystem.hpp>
#include <cerrno>
#include <ctime>
#include <fstream>
#include <iostream>
#include <stdexcept>

#include "platform/environment.h"
#include "platform/paths.h"

namespace zavr {
namespace {

struct LogFile {
    std::string path;
    std::ofstream stream;
};

// Built on first use, which the language makes safe against concurrent first use; lives to the end
// of the process, whose exit closes the file.
LogFile& TheLog() {
    static LogFile log;
    return log;
}

std::string TimeStamp() {
    const std::time_t now = std::time(nullptr);
    const std::tm local = LocalTime(now);
    char text[32];
    const std::size_t length = std::strftime(text, sizeof text, "%Y/%m/%d %H:%M:%S", &local);
    return std::string(text, length);
}

[[noreturn]] void PrintAndThrow(const std::string& message) {
    std::cout << message << std::endl;
    throw std::runtime_error(message);
}

// Texts carry what the server sent: a control character in one could start a forged line of the log or
// steer the console, so each is written as \xNN instead.
std::string Escaped(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (!IsControlCharacter(c)) {
            out += c;
        } else {
            static const char kDigits[] = "0123456789abcdef";
            out += "\\x";
            out += kDigits[byte >> 4];
            out += kDigits[byte & 0x0f];
        }
    }
    return out;
}

void AppendLine(std::string& out, const std::string& stamp, int level, const std::string& text) {
    out += stamp;
    out += " [ZAVR ";
    out += std::to_string(level);
    out += "] ";
    out += Escaped(text);
    out += '\n';
}

void WriteBlock(const std::string& block) {
    if (block.empty()) return;
    LogFile& log = TheLog();
    log.stream << block;
    log.stream.flush();
    // Flushed whatever the console is: a pipe or file then keeps every line of a run that is killed,
    // in order with the progress lines on standard error.
    std::cout << block << std::flush;
}

}  // namespace

void WriteLog(int level, std::string text) {
    if (level == 0) return;
    std::string line;
    AppendLine(line, TimeStamp(), level, text);
    WriteBlock(line);
}

void WriteLogLines(const std::vector<std::pair<int, std::string>>& lines) {
    const std::string stamp = TimeStamp();
    std::string block;
    for (const auto& [level, text] : lines)
        if (level != 0) AppendLine(block, stamp, level, text);
    WriteBlock(block);
}

void OpenLog() {
    const std::string folder = UpdaterFolder();
    EnsureDirectory(folder);
    LogFile& log = TheLog();
    log.path = folder + kLogFileName;
    // Text mode for appending: on Windows each new line is stored as CR LF; other readers stay free.
    std::ofstream stream(log.path, std::ios::out | std::ios::app);
    log.stream.close();
    log.stream = std::move(stream);
}

std::string LogFilePath() {
    return TheLog().path;
}

std::string UpdaterFolder() {
    const std::string suffix = Sep() + "ZAVR" + Sep() + "ZAVR Orvane" + Sep() + "Updater" + Sep();
    std::string unset;
    const std::string base = DataFolderBase(unset);
    if (base.empty()) PrintAndThrow("Error: I cannot tell where to keep my log and files: " + unset + ".");
    return base + suffix;
}

void EnsureDirectory(const std::string& path) {
    boost::system::error_code error;
    boost::filesystem::create_directories(boost::filesystem::path(path), error);
    if (!error) return;
    // "Already exists" counts as success only when what exists is a folder.
    boost::system::error_code statusError;
    const bool exists = error.value() == EEXIST || error == boost::system::errc::file_exists;
    if (exists && boost::filesystem::is_directory(boost::filesystem::path(path), statusError)) return;
    PrintAndThrow("Error: cannot create directory " + path + ", error code " + std::to_string(error.value()));
}

}  // namespace zavr
