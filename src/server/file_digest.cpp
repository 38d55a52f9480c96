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
    // A small file needs no more than its own size (plus one byte to meet the end at once); the buffer is
    // left uninitialised, as every byte hashed is read into it first.
    const std::size_t chunkBytes = std::min(kChunkBytes, FileSizeHint(file.get()) + 1);
    const std::unique_ptr<unsigned char[]> chunk(new unsigned char[chunkBytes]);
    Md5Digest digest;
    std::size_t got = 0;
    while ((got = std::fread(chunk.get(), 1, chunkBytes, file.get())) > 0)
        digest.Update(chunk.get(), static_cast<std::uint32_t>(got));
    if (std::ferror(file.get())) {
        lines.Log(2, "I was unable to read " + path + " to check its integrity.");
        return false;
    }
    digest.Finalize();
    digestText = digest.HexDigest();
    return true;
}

}  // namespace zavr
