#include "files/download_phase.h"

#include <boost/filesystem.hpp>
#include <stdexcept>

#include "catalogue/catalogue.h"
#include "files/file_list.h"
#include "files/file_moves.h"
#include "log/log.h"
#include "platform/paths.h"
#include "server/manifest.h"

namespace zavr {
namespace {

// The file's address: every backslash of the whole text becomes a forward slash.
std::string FileAddress(const std::string& filesUrl, const std::string& filePath) {
    std::string address = filesUrl + filePath;
    for (char& c : address)
        if (c == '\\') c = '/';
    return address;
}

}  // namespace

void DownloadFiles(const Downloader& downloader, const ProductInfo& product, std::int32_t version,
                   const std::string& tempFolder, nlohmann::json& manifest) {
    WriteLog(1, "Need to update " + std::to_string(product.TotalFiles) + " file(s).");
    WriteLog(1, "Total download size is " + std::to_string(product.TotalFileSize) + "KB.");
    const std::string listUrl = ManifestQueryUrl(StoredFileListBase(), product.ProductID, version);
    WriteLog(0, listUrl);
    manifest = ParseFileList(downloader.FetchText(listUrl), product.ProdName);

    // Every entry is read and checked before anything is fetched for any of them.
    const std::vector<FileEntry> files = ReadFileEntries(manifest);
    const std::string n = std::to_string(files.size());
    for (std::size_t i = 1; i <= files.size(); ++i) {
        const FileEntry& file = files[i - 1];
        WriteLog(1, "*** Downloading file " + std::to_string(i) + " of " + n + " ***");
        RefuseLinks(tempFolder, LocalRelativePath(file.FilePath));
        ClearWayInOwnTree(tempFolder, LocalRelativePath(file.Folder), LocalRelativePath(file.FilePath));
        const std::string entryFolder = tempFolder + LocalRelativePath(file.Folder);
        if (PathExists(entryFolder))
            WriteLog(0, "Temporary location " + entryFolder + " exists already - great.");
        else if (boost::filesystem::create_directories(entryFolder))
            WriteLog(0, entryFolder + " does not exist; created.");

        const std::string address = FileAddress(product.FilesUrl, file.FilePath);
        const std::string tempFile = tempFolder + LocalRelativePath(file.FilePath);
        if (PathExists(tempFile) && downloader.FileDigestMatches(tempFile, file.MD5Hash)) {
            WriteLog(1, "Existing file integrity OK: " + file.FilePath);
            continue;
        }
        WriteLog(1, file.FilePath + " downloading.");
        WriteLog(0, "From remote: " + file.FilePath + " to " + tempFile + ", size " +
                        std::to_string(file.FileSize) + "KB");
        WriteLog(1, "Progress:");
        if (!downloader.DownloadFile(address, tempFile))
            throw std::runtime_error("Aborting file download; see error above.");
        if (!downloader.FileDigestMatches(tempFile, file.MD5Hash))
            throw std::runtime_error("Aborting file download, a downloaded file has failed integrity-check.");
        WriteLog(1, "File " + std::to_string(i) + " of " + n + " downloaded, passed integrity check.");
    }
}

}  // namespace zavr
