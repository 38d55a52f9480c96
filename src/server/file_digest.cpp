#include "server/file_digest.h"

#include <algorithm>
#include <memory>

#include "log/log.h"
#include "platform/c_file.h"
#include "platform/own_file.h"
#include "server/md5.h"

namespace zavr {
namespace {

// Read in fixed pieces: memory stays flat whatever the file's size, and sizes never pass through a
// 32-bit count.
constexpr std::size_t kChunkBytes = std::size_t{1} << 20;

// The file's size as the system reports it, or the chunk size when it cannot tell; only a hint, as the
// file is read to its end whatever it says.
std::size_t FileSizeHint(std::FILE* file) {
    std::uint64_t size = 0;
    if (!OpenFileSize(file, size)) return kChunkBytes;
    return size < kChunkBytes ? static_cast<std::size_t>(size) : kChunkBytes;
}

}  // namespace

bool FileDigestText(const std::string& path, std::string& digestText, HeldLines& lines) {
    CFile file = OpenRegularFile(path);
    if (!file) {
        lines.Log(2, "I was unable to open " + path + " to check its integrity.");
        return false;
    }
    std::setvbuf(file.get(), nullptr, _IONBF, 0);  // the chunks are large; a stdio buffer only adds a copy
    Md5Digest digest;
    bool ok = true;
    FeedDigest(file.get(), digest, ok);
    if (!ok) {
        lines.Log(2, "I was unable to read " + path + " to check its integrity.");
        return false;
    }
    digest.Finalize();
    digestText = digest.HexDigest();
    return true;
}

std::uint64_t FeedDigest(std::FILE* file, Md5Digest& digest, bool& ok, std::uint64_t limit) {
    // A small file needs no more than its own size (plus one byte to meet the end at once); the buffer is
    // left uninitialised, as every byte hashed is read into it first.
    const std::size_t chunkBytes =
        std::min({kChunkBytes, FileSizeHint(file) + 1,
                  limit < kChunkBytes ? static_cast<std::size_t>(limit) + 1 : kChunkBytes});
    const std::unique_ptr<unsigned char[]> chunk(new unsigned char[chunkBytes]);
    std::uint64_t total = 0;
    for (std::size_t got; total < limit && (got = std::fread(chunk.get(), 1, chunkBytes, file)) > 0;) {
        const auto used = static_cast<std::size_t>(std::min<std::uint64_t>(got, limit - total));
        digest.Update(chunk.get(), static_cast<std::uint32_t>(used));
        total += used;
    }
    ok = !std::ferror(file);
    return total;
}

}  // namespace zavr
