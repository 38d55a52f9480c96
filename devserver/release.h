// A release tree on disk, as the development update server reads it:
//
//   <root>/products/<sim>/<aircraft>/<row>.json   product-information documents, served as they are
//   <root>/releases/<ProductID>/<version>/...     the files that changed in that version
//
// The update from installed version v of a product is every file of the version folders above v, up
// to the product's ProdVersion, the latest copy of each path winning. Paths in the file list use
// backslashes; the Folder of an entry is its FilePath's folder (empty at the top).
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace zavr::devserver {

struct ReleaseFile {
    std::string path;      // relative, backslash-separated
    std::string diskPath;  // where the current copy lies
    std::uintmax_t bytes = 0;
};

// A product as a document of the tree describes it.
struct PublishedProduct {
    std::string row;  // "XSE/KA2/1"
    std::int32_t id = 0;
    std::int32_t version = 0;     // ProdVersion
    std::int32_t minVersion = 0;  // MinVersion; 0 when the document gives none
};

class Release {
  public:
    explicit Release(std::string root) : root_(std::move(root)) {}

    const std::string& Root() const { return root_; }

    // The files of the update from installed version `version`, in ascending path order; nullopt when
    // no product document names the product. Throws std::runtime_error for an unreadable document.
    std::optional<std::vector<ReleaseFile>> FilesFor(std::int32_t productId, std::int32_t version) const;

    // The ProdVersion of the product; nullopt when no product document names it. Throws as FilesFor.
    std::optional<std::int32_t> CurrentVersion(std::int32_t productId) const;

    // Where the current copy of `relative` (slash-separated) for catalogue row `row` ("XSE/KA2/1")
    // lies; nullopt when none of the row's products has it.
    std::optional<std::string> FileOnDisk(const std::string& row, const std::string& relative) const;

    // The MD5 digest text of a file, computed once per size and modification time. Empty when the
    // file cannot be read.
    std::string Digest(const std::string& diskPath);

    // Every product of every document, rows in ascending order. Throws std::runtime_error for an
    // unreadable document.
    std::vector<PublishedProduct> Products() const;

    // The replies to "totals" and "filelist" for an update of these files. FileListReply throws
    // std::runtime_error when a file cannot be read.
    static std::string TotalsReply(const std::vector<ReleaseFile>& files);
    // An entry whose path is in maps carries "MapSHA256", the SHA-256 text of the block map written
    // beside its file (server/block_map.h); updaters that know no maps ignore it.
    std::string FileListReply(const std::vector<ReleaseFile>& files,
                              const std::map<std::string, std::string>& maps = {});

  private:
    struct Product {
        std::int32_t id;
        std::int32_t version;
    };
    std::vector<Product> ProductsOfRow(const std::string& row) const;
    std::vector<std::string> Rows() const;
    std::optional<Product> FindProduct(std::int32_t id) const;
    // Version folders of a product from above `from` to `to`, ascending.
    std::vector<std::pair<std::int32_t, std::string>> Versions(std::int32_t id, std::int32_t from,
                                                               std::int32_t to) const;

    std::string root_;
    std::mutex mutex_;
    std::map<std::string, std::pair<std::pair<std::uintmax_t, std::int64_t>, std::string>> digests_;
};

// The whole content of a file. Throws std::runtime_error with a sentence when it cannot be read.
std::string ReadWholeFile(const std::string& path);

// True when a slash-separated request path holds no "..", "." or empty element and no backslash.
bool SafeRequestPath(const std::string& path);

}  // namespace zavr::devserver
