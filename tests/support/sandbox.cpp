#include "support/sandbox.h"

#include <algorithm>
#include <boost/filesystem.hpp>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace fs = boost::filesystem;

namespace zavr::test {

TempDir::TempDir() {
    const fs::path path = fs::temp_directory_path() / fs::unique_path("zavr-test-%%%%-%%%%-%%%%");
    fs::create_directories(path);
    path_ = path.string();
}

TempDir::~TempDir() {
    boost::system::error_code ignored;
    fs::remove_all(path_, ignored);
}

ScopedEnv::ScopedEnv(std::string name, std::optional<std::string> value) : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) old_ = old;
    if (value)
        ::setenv(name_.c_str(), value->c_str(), 1);
    else
        ::unsetenv(name_.c_str());
}

ScopedEnv::~ScopedEnv() {
    if (old_)
        ::setenv(name_.c_str(), old_->c_str(), 1);
    else
        ::unsetenv(name_.c_str());
}

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw std::runtime_error("test: cannot read " + path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

void WriteFile(const std::string& path, const std::string& content) {
    const fs::path parent = fs::path(path).parent_path();
    if (!parent.empty()) fs::create_directories(parent);
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << content;
    if (!file) throw std::runtime_error("test: cannot write " + path);
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    return lines;
}

std::vector<std::string> LogEntries(const std::string& text) {
    std::vector<std::string> entries;
    for (const std::string& line : Lines(text)) entries.push_back(line.size() > 20 ? line.substr(20) : line);
    return entries;
}

std::vector<std::string> FilesUnder(const std::string& folder) {
    std::vector<std::string> files;
    const boost::filesystem::path root(folder);
    for (auto it = boost::filesystem::recursive_directory_iterator(root); it != decltype(it)(); ++it)
        if (!boost::filesystem::is_directory(it->symlink_status()))
            files.push_back(it->path().lexically_relative(root).generic_string());
    std::sort(files.begin(), files.end());
    return files;
}

std::string RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    return bytes;
}

}  // namespace zavr::test
