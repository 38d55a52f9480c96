#include "doctor.h"

#include <boost/filesystem.hpp>
#include <cstdint>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "catalogue/catalogue.h"
#include "catalogue/installed_version.h"
#include "files/file_list.h"
#include "log/log.h"
#include "platform/paths.h"
#include "release.h"
#include "server/block_map.h"

namespace fs = boost::filesystem;
using nlohmann::json;

namespace zavr::devserver {
namespace {

constexpr std::uintmax_t kLargeFileBytes = std::uintmax_t{1} << 30;

// A version text that reads back as version: its digits with a dot between each two ("1.2.4" for 124).
std::string Dotted(std::int32_t version) {
    std::string text;
    for (const char c : std::to_string(version)) {
        if (!text.empty() && text.back() != '-') text += '.';
        text += c;
    }
    return text;
}

class Doctor {
  public:
    explicit Doctor(std::string root) : root_(std::move(root)) {}

    std::vector<Finding> Run() {
        CheckDocuments();
        CheckReleases();
        return std::move(findings_);
    }

  private:
    void Problem(const std::string& text) { findings_.push_back({true, text}); }
    void Warning(const std::string& text) { findings_.push_back({false, text}); }

    // Entries under folder, links and all, never followed; an error stops the walk with a problem.
    template <typename Visit>
    void Walk(const fs::path& folder, Visit visit) {
        boost::system::error_code error;
        for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end;
             it.increment(error))
            visit(it->path(), it->symlink_status().type());
        if (error) Problem(folder.string() + " cannot be read to the end (" + error.message() + ").");
    }

    void CheckDocuments() {
        const fs::path products = fs::path(root_) / "products";
        if (!fs::is_directory(products)) {
            Problem(products.string() +
                    " is missing: the product documents lie in products/<sim>/<aircraft>/"
                    "<row>.json.");
            return;
        }
        Walk(products, [&](const fs::path& path, fs::file_type type) {
            if (type == fs::directory_file) return;
            const std::string relative = path.generic_string().substr(products.generic_string().size() + 1);
            if (type == fs::symlink_file) {
                Problem(path.string() +
                        " is a symbolic link; I publish only regular files. Put the document "
                        "itself there.");
            } else if (path.extension() == ".json" && !IsDocumentPlace(relative)) {
                Problem(path.string() +
                        " is not where a product document lies: products/<sim>/<aircraft>/"
                        "<row>.json, with a family, aircraft code and row of the catalogue. "
                        "Move it or remove it.");
            } else if (path.extension() == ".json" && type == fs::regular_file) {
                CheckDocument(path);
            } else {
                Warning(path.string() + " is not a product document; it is not published.");
            }
        });
    }

    static bool IsDocumentPlace(const std::string& relative) {
        const std::size_t first = relative.find('/');
        const std::size_t second = first == std::string::npos ? first : relative.find('/', first + 1);
        if (second == std::string::npos || relative.find('/', second + 1) != std::string::npos) return false;
        const std::string sim = relative.substr(0, first);
        const std::string aircraft = relative.substr(first + 1, second - first - 1);
        const std::string row = relative.substr(second + 1);
        const int rows = CatalogueRowCount(aircraft, sim);
        for (int r = 1; r <= rows; ++r)
            if (row == std::to_string(r) + ".json") return true;
        return false;
    }

    void CheckDocument(const fs::path& path) {
        json document;
        try {
            document = json::parse(ReadWholeFile(path.string()));
        } catch (const std::exception& error) {
            Problem(path.string() + " is not JSON the updater can read (" + error.what() + ").");
            return;
        }
        if (!document.is_array() || document.empty()) {
            Problem(path.string() + " must be a JSON array of product objects.");
            return;
        }
        for (std::size_t i = 0; i < document.size(); ++i)
            CheckProduct(path.string() + ", product " + std::to_string(i + 1), document[i]);
    }

    void CheckProduct(const std::string& where, const json& product) {
        if (!product.is_object()) {
            Problem(where + " is not a JSON object.");
            return;
        }
        std::map<std::string, std::int32_t> numbers;
        bool complete = true;
        for (const char* key : {"ProductID", "ProdVersion", "MinVersion"}) {
            const auto found = product.find(key);
            if (found == product.end() || !found->is_number_integer() ||
                found->get<std::int64_t>() < std::numeric_limits<std::int32_t>::min() ||
                found->get<std::int64_t>() > std::numeric_limits<std::int32_t>::max()) {
                Problem(where + ": \"" + key + "\" must be a whole number of 32 bits.");
                complete = false;
            } else {
                numbers[key] = found->get<std::int32_t>();
            }
        }
        std::map<std::string, std::string> texts;
        for (const char* key : {"PVDec", "ZAVRFolderValue", "RegistryKey", "ProdName", "Simulator"}) {
            const auto found = product.find(key);
            if (found == product.end() || !found->is_string()) {
                Problem(where + ": \"" + key + "\" must be a text.");
                complete = false;
            } else {
                texts[key] = found->get<std::string>();
            }
        }
        if (!complete) return;
        const std::int32_t id = numbers["ProductID"];
        const std::int32_t version = numbers["ProdVersion"];
        if (const auto problem = VersionTextProblem(texts["PVDec"], version))
            Problem(where + ": PVDec \"" + texts["PVDec"] + "\" " + *problem + ", not as ProdVersion " +
                    std::to_string(version) + ". Make PVDec its digits with dots between (\"" +
                    Dotted(version) + "\"), or ProdVersion the digits of PVDec.");
        if (numbers["MinVersion"] > version)
            Problem(where + ": MinVersion " + std::to_string(numbers["MinVersion"]) +
                    " is above ProdVersion " + std::to_string(version) + ".");
        for (const char* key : {"ProdName", "Simulator"})
            if (const auto reason = UnsafeNameReason(texts[key]))
                Problem(where + ": the updater refuses \"" + key + "\" as a folder name: " + *reason + ".");
        for (const char c : texts["ZAVRFolderValue"])
            if (IsControlCharacter(c)) Problem(where + ": \"ZAVRFolderValue\" holds a control character.");
        const fs::path folder = fs::path(root_) / "releases" / std::to_string(id) / std::to_string(version);
        if (!fs::is_directory(folder))
            Problem(where + ": there is no folder " + folder.string() + " for ProdVersion " +
                    std::to_string(version) + ". Put the version's files there, or lower ProdVersion.");
        const auto [known, added] = versions_.emplace(id, std::make_pair(version, where));
        if (!added)
            Problem(where + ": product " + std::to_string(id) + " is also described in " +
                    known->second.second + ".");
    }

    void CheckReleases() {
        const fs::path releases = fs::path(root_) / "releases";
        if (!fs::is_directory(releases)) return;  // a tree of documents only: every missing folder is named
        for (const auto& entry : fs::directory_iterator(releases)) {
            const std::string name = entry.path().filename().string();
            const auto product = versions_.find(ProductNumber(name));
            if (product == versions_.end()) {
                Warning(entry.path().string() + " belongs to no product of a document; it is not published.");
                continue;
            }
            CheckProductFiles(entry.path(), product->second.first);
        }
    }

    static std::int64_t ProductNumber(const std::string& name) {
        if (name.empty() || name.size() > 11 || name.find_first_not_of("-0123456789") != std::string::npos)
            return std::numeric_limits<std::int64_t>::min();
        try {
            return std::stoll(name);
        } catch (const std::exception&) {
            return std::numeric_limits<std::int64_t>::min();
        }
    }

    void CheckProductFiles(const fs::path& folder, std::int32_t current) {
        std::map<std::string, std::string> spellings;  // as Windows compares paths -> the first spelling
        for (const auto& entry : fs::directory_iterator(folder)) {
            const std::int64_t version = ProductNumber(entry.path().filename().string());
            if (version > current)
                Warning(entry.path().string() + " is above ProdVersion " + std::to_string(current) +
                        "; it is not offered until ProdVersion rises.");
            if (version > current || !fs::is_directory(entry.symlink_status())) continue;
            const std::string prefix = entry.path().generic_string() + "/";
            Walk(entry.path(), [&](const fs::path& path, fs::file_type type) {
                if (type == fs::directory_file) return;
                std::string relative = path.generic_string().substr(prefix.size());
                if (type != fs::regular_file) {
                    Problem(path.string() +
                            " is not a regular file (a link, a FIFO or a device); I publish "
                            "only regular files. Put the file itself there.");
                    return;
                }
                if (const auto reason = UnsafePathReason(BackslashPath(relative))) {
                    Problem(path.string() + ": the updater refuses this name: " + *reason + ". Rename it.");
                    return;
                }
                const std::string suffix = kBlockMapSuffix;
                const std::string lower = AsciiLowerCase(relative);
                if (lower.size() >= suffix.size() &&
                    lower.compare(lower.size() - suffix.size(), suffix.size(), suffix) == 0) {
                    Problem(path.string() + " ends in " + suffix +
                            ", the ending of the block maps that an export writes beside large files. "
                            "Rename it.");
                    return;
                }
                const auto [first, added] = spellings.emplace(lower, relative);
                if (!added && first->second != relative)
                    Problem(path.string() + " and " + first->second +
                            " are one file on Windows, which does not tell letter cases apart. Rename one.");
                boost::system::error_code error;
                if (fs::file_size(path, error) > kLargeFileBytes && !error)
                    Warning(path.string() +
                            " is larger than 1 GiB; every user whose version lacks it fetches "
                            "it whole.");
            });
        }
    }

    static std::string BackslashPath(std::string relative) {
        for (char& c : relative)
            if (c == '/') c = '\\';
        return relative;
    }

    const std::string root_;
    std::vector<Finding> findings_;
    std::map<std::int64_t, std::pair<std::int32_t, std::string>>
        versions_;  // ProductID -> ProdVersion, where
};

}  // namespace

std::vector<Finding> CheckRelease(const std::string& root) {
    try {
        return Doctor(root).Run();
    } catch (const std::exception& error) {
        return {{true, "The release tree " + root + " cannot be read: " + error.what()}};
    }
}

bool AnyProblem(const std::vector<Finding>& findings) {
    for (const Finding& finding : findings)
        if (finding.problem) return true;
    return false;
}

}  // namespace zavr::devserver
