#include "files/download_phase.h"

#include <exception>
#include <set>
#include <stdexcept>
#include <utility>

#include "catalogue/catalogue.h"
#include "files/delta_build.h"
#include "files/file_list.h"
#include "files/file_moves.h"
#include "log/held_lines.h"
#include "log/log.h"
#include "log/next_step.h"
#include "platform/paths.h"
#include "server/download_batch.h"
#include "server/file_transfer.h"
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

// One entry of the list on its way into the temporary folder. Its lines are held until every entry
// before it has been reported, so that the log reads as if the files had come one after another.
struct Entry {
    HeldLines lines;
    bool done = false;
    std::exception_ptr failure;  // ends the phase when the entry's turn comes
    bool fetchedWhole = false;   // no part of it was continued from an earlier transfer
    bool ready = false;          // announced, its folder made; what failed meanwhile is in failure
    std::string tempFile;
    std::string address;
};

class DownloadRun {
  public:
    DownloadRun(Downloader& downloader, const ProductInfo& product, const std::string& tempFolder,
                const std::string& simFolder, bool mapsMustBeNamed, std::vector<FileEntry> files)
        : downloader_(downloader),
          product_(product),
          tempFolder_(tempFolder),
          simFolder_(simFolder),
          mapsMustBeNamed_(mapsMustBeNamed),
          files_(std::move(files)),
          entries_(files_.size()),
          n_(std::to_string(files_.size())),
          batch_(downloader.Connections(), downloader.Limits(), tempFolder),
          progress_(files_.size(), ExpectedBytes(), downloader.FilesInFlight() > 1) {}

    // Brings every entry in, as many at once as the downloader allows. Throws the failure of the first
    // entry, in list order, that failed; transfers of later entries still in flight are stopped.
    void Run() {
        BuildFromCopiesAtHand();
        for (;;) {
            ReportFinishedEntries();
            if (head_ == files_.size()) break;
            // Two spellings of one file wait for each other: they share the partial file.
            if (!stopStarting_ && next_ < files_.size() && batch_.HasRoom() &&
                fetching_.count(SameFileKey(files_[next_].FilePath)) == 0) {
                Prepare(next_++);
                continue;
            }
            const std::vector<DownloadBatch::Done> done = batch_.Wait(progress_, filesDone_, bytesDone_);
            if (done.empty()) throw std::logic_error("the download waited with nothing in flight");
            progress_.Erase();
            for (const DownloadBatch::Done& transfer : done) Arrived(transfer);
        }
        progress_.Finish(filesDone_, bytesDone_);
    }

  private:
    std::int64_t ExpectedBytes() const {
        std::int64_t bytes = 0;
        for (const FileEntry& file : files_) bytes += ListedBytes(file);
        return bytes;
    }

    // Writes the lines of every entry at the head of the list that is done, and lets the first entry
    // not yet done write at once. Throws the failure of a done entry when its turn comes.
    void ReportFinishedEntries() {
        for (; head_ < files_.size(); ++head_) {
            Entry& entry = entries_[head_];
            if (entry.lines.Holding()) progress_.Erase();
            entry.lines.Release();
            if (!entry.done) return;
            if (entry.failure) std::rethrow_exception(entry.failure);
        }
    }

    void Finish(std::size_t i, std::exception_ptr failure) {
        Entry& entry = entries_[i];
        entry.done = true;
        entry.failure = failure;
        fetching_.erase(SameFileKey(files_[i].FilePath));
        if (failure) {
            stopStarting_ = true;  // later entries would only be thrown away
            return;
        }
        ++filesDone_;
        bytesDone_ += ListedBytes(files_[i]);
    }

    void Fail(std::size_t i, const char* message, NextStep step) {
        Finish(i, std::make_exception_ptr(UserFailure(message, step)));
    }

    // Announces the entry and makes its folder in the temporary tree. True when an intact file already
    // there ends it. Throws the file-system library's errors and a sentence for a link in the way.
    bool Ready(std::size_t i) {
        const FileEntry& file = files_[i];
        Entry& entry = entries_[i];
        entry.ready = true;
        HeldLines& lines = entry.lines;
        lines.Log(1, "*** Downloading file " + std::to_string(i + 1) + " of " + n_ + " ***");
        const std::string relative = LocalRelativePath(file.FilePath);
        RefuseLinks(tempFolder_, FoldersOf(relative));
        ClearWayInOwnTree(tempFolder_, LocalRelativePath(file.Folder), relative);
        EnsureFolder(tempFolder_ + LocalRelativePath(file.Folder), kTemporaryFolder, lines);

        entry.address = FileAddress(product_.FilesUrl, file.FilePath);
        entry.tempFile = tempFolder_ + relative;
        if (PathExists(entry.tempFile) &&
            downloader_.FileDigestMatches(entry.tempFile, file.MD5Hash, lines)) {
            lines.Log(1, "Existing file integrity OK: " + file.FilePath);
            return true;
        }
        lines.Log(1, file.FilePath + " downloading.");
        lines.Log(0, "From remote: " + file.FilePath + " to " + entry.tempFile + ", size " +
                         std::to_string(file.FileSize) + "KB");
        lines.Log(1, "Progress:");
        return false;
    }

    // Everything up to the start of the entry's transfer; an intact file already there ends it.
    void Prepare(std::size_t i) {
        const FileEntry& file = files_[i];
        Entry& entry = entries_[i];
        if (entry.done) return;  // built from a copy at hand, or found intact, before the transfers
        if (entry.ready && entry.failure) return Finish(i, entry.failure);
        try {
            if (!entry.ready && Ready(i)) return Finish(i, nullptr);
        } catch (...) {
            return Finish(i, std::current_exception());
        }
        if (batch_.Start(i, entry.address, entry.tempFile, true, entry.lines))
            fetching_.insert(SameFileKey(file.FilePath));
        else
            Fail(i, "Aborting file download; see error above.", NextStep::RunAgain);
    }

    // The copy at hand of a large file: the installed one, else a stale one in the temporary folder.
    // Empty when there is none. A partial file left by a killed build or download is not continued when
    // a build is possible: a build usually asks for far less than the rest of the file.
    std::string CopyAtHand(std::size_t i) const {
        const Entry& entry = entries_[i];
        std::vector<std::string> copies;
        if (!simFolder_.empty()) copies.push_back(simFolder_ + LocalRelativePath(files_[i].FilePath));
        copies.push_back(entry.tempFile);
        return WorthBuildingFrom(files_[i], copies);
    }

    // Before any file transfer starts (texts and files never share the connections at one time): each
    // large file with a copy at hand is built from what that copy holds and the blocks it lacks, its
    // map asked for together with the others'. A file that cannot be built so is fetched whole later.
    void BuildFromCopiesAtHand() {
        std::vector<std::pair<std::size_t, std::string>> jobs;  // entry, its copy at hand
        std::vector<std::string> maps;
        for (std::size_t i = 0; i < files_.size(); ++i) {
            if (!WorthADelta(files_[i]) || (mapsMustBeNamed_ && files_[i].MapSHA256.empty())) continue;
            try {
                if (Ready(i)) {
                    Finish(i, nullptr);
                    continue;
                }
            } catch (...) {
                entries_[i].failure = std::current_exception();  // reported in the entry's turn
                continue;
            }
            std::string copy = CopyAtHand(i);
            if (copy.empty()) continue;
            jobs.emplace_back(i, std::move(copy));
            maps.push_back(BlockMapAddress(entries_[i].address));
        }
        if (jobs.empty()) return;
        downloader_.Prefetch(maps);
        for (const auto& [i, copy] : jobs) {
            ReportFinishedEntries();  // the entry at the head of the list reports as it goes
            Entry& entry = entries_[i];
            const DeltaJob job{entry.address, copy,
                               tempFolder_,   LocalRelativePath(files_[i].FilePath),
                               &files_[i],    mapsMustBeNamed_};
            if (!BuildFromCopyAtHand(downloader_, job, entry.lines)) continue;
            entry.lines.Log(
                1, "File " + std::to_string(i + 1) + " of " + n_ + " downloaded, passed integrity check.");
            Finish(i, nullptr);
        }
        downloader_.DropPrefetched();
    }

    // The transfer of an entry has ended: its digest decides. A file continued from an earlier
    // transfer that fails its check is fetched whole once more before the entry fails.
    void Arrived(const DownloadBatch::Done& transfer) {
        const std::size_t i = transfer.id;
        Entry& entry = entries_[i];
        if (!transfer.ok) return Fail(i, "Aborting file download; see error above.", transfer.step);
        // The digest was taken from the bytes as they were written.
        if (transfer.digest != files_[i].MD5Hash) {
            entry.lines.Log(0,
                            "Server told me " + files_[i].MD5Hash + " but I calculated " + transfer.digest);
            if (!transfer.resumed || entry.fetchedWhole)
                return Fail(i, "Aborting file download, a downloaded file has failed integrity-check.",
                            NextStep::ServerFault);
            entry.fetchedWhole = true;
            entry.lines.Log(0, "The continued " + entry.tempFile + " failed its check; fetching it whole.");
            if (!batch_.Start(i, entry.address, entry.tempFile, false, entry.lines))
                Fail(i, "Aborting file download; see error above.", NextStep::RunAgain);
            return;
        }
        entry.lines.Log(
            1, "File " + std::to_string(i + 1) + " of " + n_ + " downloaded, passed integrity check.");
        Finish(i, nullptr);
    }

    const Downloader& downloader_;
    const ProductInfo& product_;
    const std::string& tempFolder_;
    const std::string& simFolder_;
    const bool mapsMustBeNamed_;
    const std::vector<FileEntry> files_;
    std::vector<Entry> entries_;
    const std::string n_;
    DownloadBatch batch_;
    DownloadProgress progress_;
    std::size_t next_ = 0;  // the first entry not yet prepared
    std::size_t head_ = 0;  // the first entry not yet reported
    std::size_t filesDone_ = 0;
    std::int64_t bytesDone_ = 0;
    bool stopStarting_ = false;
    std::set<std::string> fetching_;  // same-file keys of the entries in flight
};

}  // namespace

std::vector<std::string> FileListUrls(const ProductInfo& product, std::int32_t version, bool withSignature) {
    const std::string listUrl = ManifestQueryUrl(StoredFileListBase(), product.ProductID, version);
    if (!withSignature) return {listUrl};
    return {listUrl, SignatureUrl(listUrl)};
}

void DownloadFiles(Downloader& downloader, const ProductInfo& product, std::int32_t version,
                   const std::string& tempFolder, nlohmann::json& manifest,
                   const std::optional<ReleaseKey>& releaseKey, const std::string& simFolder) {
    WriteLog(1, "Need to update " + std::to_string(product.TotalFiles) + " file(s).");
    WriteLog(1, "Total download size is " + std::to_string(product.TotalFileSize) + "KB.");
    // The same address as the prefetch asked for, so that its reply is the one taken here.
    const std::string listUrl = FileListUrls(product, version, false).front();
    WriteLog(0, listUrl);
    const std::string list = downloader.FetchText(listUrl);
    if (releaseKey)
        RequireSignature(downloader, *releaseKey, listUrl,
                         FileListMessage(product.ProductID, version, product.ProdVersion, list),
                         OldFileListMessage(product.ProductID, version, list),
                         "The server's file list for " + product.ProdName + " was not signed by the maker: ",
                         ". I download nothing from it.");
    manifest = ParseFileList(list, product.ProdName);

    // Every entry is read and checked before anything is fetched for any of them.
    std::vector<FileEntry> files = ReadFileEntries(manifest);
    for (const FileEntry& file : files) {
        RefuseLongPath(tempFolder + LocalRelativePath(file.Folder), true);
        RefuseLongPath(PartialPath(tempFolder + LocalRelativePath(file.FilePath)), false);
    }
    DownloadRun(downloader, product, tempFolder, simFolder, releaseKey.has_value(), std::move(files)).Run();
}

}  // namespace zavr
