// Checking a file against the digest the server gave.
#include <cstdio>
#include <memory>
#include <vector>

#include "files/file_digest.h"
#include "files/md5.h"
#include "log/log.h"
#include "server/downloader.h"

namespace zavr {
namespace {

// Read in fixed pieces: memory stays flat whatever the file's size, and sizes never pass through a
// 32-bit count.
constexpr std::size_t kChunkBytes = std::size_t{1} << 20;

struct FileClose {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

bool FileDigestText(const std::string& path, std::string& digestText) {
    std::unique_ptr<std::FILE, FileClose> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        WriteLog(2, "I was unable to open " + path + " to check its integrity.");
        return false;
    }
    std::setvbuf(file.get(), nullptr, _IONBF, 0);  // the chunks are large; a stdio buffer only adds a copy
    std::vector<unsigned char> chunk(kChunkBytes);
    Md5Digest digest;
    std::size_t got = 0;
    while ((got = std::fread(chunk.data(), 1, chunk.size(), file.get())) > 0)
        digest.Update(chunk.data(), static_cast<std::uint32_t>(got));
    if (std::ferror(file.get())) {
        WriteLog(2, "I was unable to read " + path + " to check its integrity.");
        return false;
    }
    digest.Finalize();
    digestText = digest.HexDigest();
    return true;
}

bool Downloader::FileDigestMatches(const std::string& path, const std::string& expected) const {
    std::string computed;
    if (!FileDigestText(path, computed)) return false;
    if (computed != expected) {
        WriteLog(0, "Server told me " + expected + " but I calculated " + computed);
        return false;
    }
    return true;
}

}  // namespace zavr
