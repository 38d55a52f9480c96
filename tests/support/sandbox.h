// Test helpers: temporary folders, environment overrides and whole files, all undone on scope exit.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zavr::test {

// A fresh folder under the system's temporary folder, removed with everything in it on destruction.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    // The folder's path, without a trailing separator.
    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// Sets (or, with nullopt, unsets) one environment variable and restores it on destruction.
class ScopedEnv {
  public:
    ScopedEnv(std::string name, std::optional<std::string> value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    std::string name_;
    std::optional<std::string> old_;
};

std::string ReadFile(const std::string& path);
// Writes the file whole, creating its missing parent folders.
void WriteFile(const std::string& path, const std::string& content);
std::vector<std::string> Lines(const std::string& text);
// The files (and links) under folder, as paths relative to it with "/" between elements, sorted.
std::vector<std::string> FilesUnder(const std::string& folder);
// size bytes that look random, the same for the same seed.
std::string RandomBytes(std::size_t size, unsigned seed);
// The lines of a log text with their time stamps taken off: "[ZAVR 1] text".
std::vector<std::string> LogEntries(const std::string& text);

}  // namespace zavr::test
