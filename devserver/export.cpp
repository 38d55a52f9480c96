#include "export.h"

#include <boost/filesystem.hpp>
#include <fstream>
#include <map>
#include <set>
#include <stdexcept>

#include "doctor.h"
#include "server/block_map.h"
#include "server/release_signature.h"

namespace fs = boost::filesystem;

namespace zavr::devserver {
namespace {

void WriteText(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream file(path.string(), std::ios::binary | std::ios::trunc);
    file << text;
    file.close();
    if (!file) throw std::runtime_error("I could not write " + path.string() + ".");
}

void CopyReplacing(const fs::path& from, const fs::path& to) {
    fs::create_directories(to.parent_path());
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
}

// nginx reads a quoted string with \ as its escape.
std::string Quoted(const std::string& text) {
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

}  // namespace

std::string NginxLocations(const std::string& root) {
    // A query's values become a file name: anything but a whole number is refused before that.
    const auto query = [](const std::string& path, const std::string& file, const std::string& type) {
        return "location = " + path + " {\n" +
               "    if ($arg_product !~ \"^-?[0-9]{1,10}$\") { return 400; }\n"
               "    if ($arg_version !~ \"^-?[0-9]{1,10}$\") { return 400; }\n"
               "    default_type " +
               type + ";\n" + "    try_files " + file + " =404;\n}\n";
    };
    return "# Written by zavr-devserver --export. Include it in the server block that answers the\n"
           "# update server's address.\n"
           "root " +
           Quoted(root) + ";\n" +
           query("/totals", "/totals/$arg_product/$arg_version.json", "application/json") +
           query("/filelist", "/filelist/$arg_product/$arg_version.json", "application/json") +
           query("/filelist.sig", "/filelist/$arg_product/$arg_version.json.sig", "text/plain") +
           "location /products/ {\n    default_type application/json;\n}\n"
           "location /files/ {\n    types { }\n    default_type application/octet-stream;\n}\n"
           "location / {\n    return 404;\n}\n";
}

std::size_t ExportRelease(Release& release, const std::string& out, const SigningKey* key,
                          std::vector<std::string>* warnings) {
    const fs::path root = fs::absolute(out);
    // nginx expands variables even inside a quoted root, so a $ would let a request choose the folder.
    for (const char c : root.string())
        if (c == '$' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            throw std::runtime_error("The folder " + root.string() +
                                     " holds a $ or a control character, which nginx would read as part of "
                                     "its configuration; export to a folder without them.");
    std::string problems;
    for (const Finding& finding : CheckRelease(release.Root())) {
        if (finding.problem)
            problems += "\n  " + finding.text;
        else if (warnings != nullptr)
            warnings->push_back(finding.text);
    }
    if (!problems.empty())
        throw std::runtime_error(
            "The release tree has problems, so I wrote nothing (zavr-devserver --check " + release.Root() +
            " lists them with its warnings):" + problems);
    std::size_t written = 0;
    std::set<std::string> rowsDone;
    std::set<std::pair<std::string, std::string>> filesDone;  // (row, path): the row's first product wins
    std::map<std::string, std::map<std::string, std::string>> rowMaps;  // row -> path -> map's SHA-256
    for (const PublishedProduct& product : release.Products()) {
        if (rowsDone.insert(product.row).second) {
            const fs::path document = root / "products" / (product.row + ".json");
            CopyReplacing(fs::path(release.Root()) / "products" / (product.row + ".json"), document);
            ++written;
            if (key != nullptr) {
                WriteText(document.string() + ".sig",
                          SignatureText(
                              *key, ProductDocumentMessage(product.row, ReadWholeFile(document.string()))));
                ++written;
            }
        }
        const auto current = release.FilesFor(product.id, std::numeric_limits<std::int32_t>::min());
        std::map<std::string, std::string>& maps = rowMaps[product.row];
        for (const ReleaseFile& file : current.value_or(std::vector<ReleaseFile>())) {
            if (!filesDone.insert({product.row, file.path}).second) continue;
            std::string relative = file.path;
            for (char& c : relative)
                if (c == '\\') c = '/';
            const fs::path copy = root / "files" / product.row / relative;
            CopyReplacing(file.diskPath, copy);
            ++written;
            // A large file gets its block map beside it, named in the lists by its digest.
            if (file.bytes < kMappedFileMinBytes || file.bytes > kMappedFileMaxBytes) continue;
            const std::string map = MakeBlockMap(copy.string());
            WriteText(copy.string() + kBlockMapSuffix, map);
            maps[file.path] = Sha256Text(map);
            ++written;
        }
        const std::int64_t versions = std::int64_t{product.version} - product.minVersion;
        if (versions > kMaxExportedVersions)
            throw std::runtime_error("Product " + std::to_string(product.id) + " spans " +
                                     std::to_string(versions) + " versions from its MinVersion to its " +
                                     "ProdVersion; I write replies for at most " +
                                     std::to_string(kMaxExportedVersions) + ".");
        for (std::int64_t v = product.minVersion; v < product.version; ++v) {
            const auto version = static_cast<std::int32_t>(v);
            const std::vector<ReleaseFile> files =
                release.FilesFor(product.id, version).value_or(std::vector<ReleaseFile>());
            const std::string name = std::to_string(version) + ".json";
            WriteText(root / "totals" / std::to_string(product.id) / name, Release::TotalsReply(files));
            const fs::path list = root / "filelist" / std::to_string(product.id) / name;
            const std::string reply = release.FileListReply(files, maps);
            WriteText(list, reply);
            written += 2;
            if (key != nullptr) {
                WriteText(list.string() + ".sig",
                          SignatureText(*key, FileListMessage(product.id, version, product.version, reply)));
                ++written;
            }
        }
    }
    WriteText(root / "zavr-locations.conf", NginxLocations(root.string()));
    return written + 1;
}

}  // namespace zavr::devserver
