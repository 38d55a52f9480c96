#include "release.h"

#include <sys/stat.h>

#include <algorithm>
#include <boost/filesystem.hpp>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>

#include "server/file_digest.h"

namespace fs = boost::filesystem;
using nlohmann::json;

namespace zavr::devserver {
namespace {

std::optional<std::int32_t> FolderVersion(const std::string& name) {
    if (name.empty() || name.size() > 9 || name.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return static_cast<std::int32_t>(std::stol(name));
}

json ReadDocument(const fs::path& path) {
    const std::string text = ReadWholeFile(path.string());
    try {
        return json::parse(text);
    } catch (const json::exception& error) {
        throw std::runtime_error("the product document " + path.string() +
                                 " is not valid JSON: " + error.what());
    }
}

std::int64_t Kilobytes(std::uintmax_t bytes) {
    return static_cast<std::int64_t>((bytes + 1023) / 1024);
}

}  // namespace

std::string ReadWholeFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    if (!file) throw std::runtime_error("I could not read " + path + ".");
    return text.str();
}

bool SafeRequestPath(const std::string& path) {
    if (path.find('\\') != std::string::npos || path.find('\0') != std::string::npos) return false;
    std::istringstream parts(path);
    for (std::string part; std::getline(parts, part, '/');)
        if (part.empty() || part == "." || part == "..") return false;
    return !path.empty() && path.back() != '/';
}

std::vector<Release::Product> Release::ProductsOfRow(const std::string& row) const {
    std::vector<Product> products;
    const fs::path document = fs::path(root_) / "products" / (row + ".json");
    if (fs::symlink_status(document).type() != fs::regular_file) return products;
    for (const json& product : ReadDocument(document)) {
        if (!product.is_object()) continue;
        const auto id = product.find("ProductID");
        const auto version = product.find("ProdVersion");
        if (id == product.end() || version == product.end() || !id->is_number() || !version->is_number())
            continue;
        products.push_back({id->get<std::int32_t>(), version->get<std::int32_t>()});
    }
    return products;
}

std::vector<std::string> Release::Rows() const {
    std::vector<std::string> rows;
    const fs::path products = fs::path(root_) / "products";
    if (!fs::is_directory(products)) return rows;
    // Only products/<sim>/<aircraft>/<row>.json, a regular file: nothing deeper or beside it is a
    // document, and no link is followed.
    for (fs::recursive_directory_iterator it(products), end; it != end; ++it) {
        if (it.depth() == 2 && it->symlink_status().type() == fs::regular_file &&
            it->path().extension() == ".json")
            rows.push_back(fs::relative(it->path(), products).replace_extension().generic_string());
        if (it.depth() == 2 || it->symlink_status().type() != fs::directory_file)
            it.disable_recursion_pending();
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

std::optional<Release::Product> Release::FindProduct(std::int32_t id) const {
    for (const std::string& row : Rows())
        for (const Product& product : ProductsOfRow(row))
            if (product.id == id) return product;
    return std::nullopt;
}

std::optional<std::int32_t> Release::CurrentVersion(std::int32_t productId) const {
    const std::optional<Product> product = FindProduct(productId);
    if (!product) return std::nullopt;
    return product->version;
}

std::vector<PublishedProduct> Release::Products() const {
    std::vector<PublishedProduct> products;
    for (const std::string& row : Rows()) {
        for (const json& product : ReadDocument(fs::path(root_) / "products" / (row + ".json"))) {
            if (!product.is_object()) continue;
            const auto number = [&product](const char* key) -> std::optional<std::int32_t> {
                const auto found = product.find(key);
                if (found == product.end() || !found->is_number_integer()) return std::nullopt;
                return found->get<std::int32_t>();
            };
            const auto id = number("ProductID");
            const auto version = number("ProdVersion");
            if (!id || !version) continue;
            products.push_back({row, *id, *version, number("MinVersion").value_or(0)});
        }
    }
    return products;
}

std::string Release::TotalsReply(const std::vector<ReleaseFile>& files) {
    std::int64_t kilobytes = 0;
    for (const ReleaseFile& file : files) kilobytes += Kilobytes(file.bytes);
    return json::array({{{"TotalFiles", files.size()}, {"TotalFileSize", kilobytes}}}).dump();
}

std::string Release::FileListReply(const std::vector<ReleaseFile>& files,
                                   const std::map<std::string, std::string>& maps) {
    json list = json::array();
    for (const ReleaseFile& file : files) {
        const std::size_t slash = file.path.rfind('\\');
        const std::string digest = Digest(file.diskPath);
        if (digest.empty()) throw std::runtime_error("cannot read " + file.diskPath);
        list.push_back({{"Folder", slash == std::string::npos ? "" : file.path.substr(0, slash)},
                        {"FilePath", file.path},
                        {"FileSize", Kilobytes(file.bytes)},
                        {"MD5Hash", digest}});
        if (const auto map = maps.find(file.path); map != maps.end()) list.back()["MapSHA256"] = map->second;
    }
    return list.dump();
}

std::vector<std::pair<std::int32_t, std::string>> Release::Versions(std::int32_t id, std::int32_t from,
                                                                    std::int32_t to) const {
    std::vector<std::pair<std::int32_t, std::string>> versions;
    const fs::path folder = fs::path(root_) / "releases" / std::to_string(id);
    if (!fs::is_directory(folder)) return versions;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const auto version = FolderVersion(entry.path().filename().string());
        if (version && *version > from && *version <= to && fs::is_directory(entry.path()))
            versions.emplace_back(*version, entry.path().string());
    }
    std::sort(versions.begin(), versions.end());
    return versions;
}

std::optional<std::vector<ReleaseFile>> Release::FilesFor(std::int32_t productId,
                                                          std::int32_t version) const {
    const std::optional<Product> product = FindProduct(productId);
    if (!product) return std::nullopt;
    std::map<std::string, ReleaseFile> latest;
    for (const auto& [number, folder] : Versions(productId, version, product->version)) {
        // Relative paths by cutting the folder off the front: fs::relative resolves every component of
        // both paths on disk, which made a list of thousands of files slow to compute.
        const std::string prefix = fs::path(folder).generic_string() + "/";
        for (const auto& entry : fs::recursive_directory_iterator(folder)) {
            if (entry.symlink_status().type() != fs::regular_file) continue;  // links are never published
            std::string relative = entry.path().generic_string().substr(prefix.size());
            std::replace(relative.begin(), relative.end(), '/', '\\');
            latest[relative] = {relative, entry.path().string(), fs::file_size(entry.path())};
        }
    }
    std::vector<ReleaseFile> files;
    for (auto& [path, file] : latest) files.push_back(std::move(file));
    return files;
}

std::optional<std::string> Release::FileOnDisk(const std::string& row, const std::string& relative) const {
    if (!SafeRequestPath(row) || !SafeRequestPath(relative)) return std::nullopt;
    for (const Product& product : ProductsOfRow(row)) {
        const auto versions = Versions(product.id, std::numeric_limits<std::int32_t>::min(), product.version);
        for (auto version = versions.rbegin(); version != versions.rend(); ++version) {
            const fs::path candidate = fs::path(version->second) / relative;
            if (fs::symlink_status(candidate).type() == fs::regular_file) return candidate.string();
        }
    }
    return std::nullopt;
}

std::string Release::Digest(const std::string& diskPath) {
    // Size and modification time to the nanosecond tell a changed file from the one hashed before.
    struct stat status {};
    if (::stat(diskPath.c_str(), &status) != 0) return std::string();
    const auto size = static_cast<std::uintmax_t>(status.st_size);
    const std::int64_t time = std::int64_t{status.st_mtim.tv_sec} * 1000000000 + status.st_mtim.tv_nsec +
                              static_cast<std::int64_t>(status.st_ino) * 31;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto found = digests_.find(diskPath);
        if (found != digests_.end() && found->second.first == std::make_pair(size, time))
            return found->second.second;
    }
    std::string digest;
    HeldLines lines(true);
    if (!FileDigestText(diskPath, digest, lines)) return std::string();
    std::lock_guard<std::mutex> lock(mutex_);
    digests_[diskPath] = {{size, time}, digest};
    return digest;
}

}  // namespace zavr::devserver
