// An installed file is never left half-written, and its backup is never overwritten by a later attempt
// at the same update: the new copy is checked beside the installed file and renamed over it in one
// step, only after every backup is on the disk and recorded in the journal.
#include "files/install_phase.h"

#include <boost/filesystem.hpp>
#include <random>
#include <set>
#include <stdexcept>

#include "files/file_list.h"
#include "files/file_moves.h"
#include "files/install_journal.h"
#include "log/log.h"
#include "platform/durable_file.h"
#include "platform/paths.h"

namespace zavr {
namespace {

// Part of the names of this attempt's partial files: no file there can already have such a name by
// chance, and the journal lets the next run find exactly these.
std::string NewToken() {
    std::random_device random;
    const std::uint64_t value = (std::uint64_t{random()} << 32) ^ random();
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
    return text;
}

void CreateFolder(const std::string& folder, const char* what, int createdLevel, const char* failure) {
    if (PathExists(folder)) {
        WriteLog(0, std::string(what) + " location " + folder + " exists already - great.");
    } else {
        if (!boost::filesystem::create_directories(folder)) throw std::runtime_error(failure);
        WriteLog(createdLevel, createdLevel == 0
                                   ? std::string(what) + " location " + folder + " does not exist; created."
                                   : folder + " does not exist; created.");
    }
}

void Flush(const std::string& folder, const char* what) {
    if (!FlushVolume(folder))
        throw std::runtime_error(std::string("I could not make sure that ") + what + " reached the disk (" +
                                 folder + "); I stop before relying on them.");
}

// Partial files that an earlier attempt named in its journal: created exclusively under a name only it
// used, so they are provably the updater's. Anything else of that name is left alone.
void RemoveLeftovers(const InstallJournal& journal) {
    for (const JournalFile& file : journal.files) {
        if (file.partial.empty()) continue;
        boost::system::error_code error;
        if (boost::filesystem::symlink_status(file.partial, error).type() == boost::filesystem::regular_file)
            RemoveQuietly(file.partial);
    }
}

}  // namespace

std::string BackupRoot(const std::string& tempFolder, const std::string& aircraftCode,
                       const std::string& simFamily) {
    return tempFolder + "Backup" + Sep() + aircraftCode + Sep() + simFamily + Sep();
}

int InstallFiles(const Downloader& downloader, const nlohmann::json& manifest, const InstallPlace& place) {
    const std::vector<FileEntry> files = ReadFileEntries(manifest);
    if (files.empty()) return 0;
    const std::string n = std::to_string(files.size());
    const std::string backupRelative = place.backupRoot.substr(place.tempFolder.size());
    const std::string journalPath = JournalPath(place.tempFolder, place.productId);
    RefuseLinks(place.tempFolder, LocalRelativePath("Backup"));

    InstallJournal earlier = ReadJournal(journalPath);
    RemoveLeftovers(earlier);
    // A journal of an update whose version was recorded protects nothing any more.
    if (earlier.toVersion <= place.fromVersion) earlier = InstallJournal();

    // First every backup, so that no installed file is replaced before all of them are on the disk.
    InstallJournal journal;
    journal.toVersion = place.toVersion;
    const std::string token = NewToken();
    std::vector<std::string> targets;  // what each entry replaces: its destination, or a link's target
    std::set<std::string> seen;
    bool backedUp = false;
    for (const FileEntry& file : files) {
        const std::string relative = LocalRelativePath(file.FilePath);
        RefuseLinks(place.tempFolder, relative);
        RefuseLinks(place.tempFolder, backupRelative + relative);
        targets.push_back(LinkedFile(place.simFolder + relative));
        RefuseIfNotAFile(targets.back());
        if (!seen.insert(relative).second) continue;  // the list names it again: done the first time
        JournalFile record{relative, false, targets.back() + ".zavr-" + token + ".partial"};
        if (const JournalFile* before = earlier.Find(relative)) {
            record.backedUp = before->backedUp;  // its backup already holds the user's file
        } else {
            CreateFolder(place.backupRoot + LocalRelativePath(file.Folder), "Backup", 0,
                         "I was unable to create the Backup directory; terminating.");
            if (PathExists(targets.back())) {
                MakeBackup(targets.back(), place.backupRoot + relative);
                WriteLog(0, "Backed up " + targets.back() + " to " + place.backupRoot + relative);
                record.backedUp = backedUp = true;
            }
        }
        journal.files.push_back(std::move(record));
    }
    for (const JournalFile& file : earlier.files)
        if (journal.Find(file.key) == nullptr)
            journal.files.push_back({file.key, file.backedUp, std::string()});
    if (backedUp) Flush(place.backupRoot, "the backups");
    WriteJournal(journalPath, journal);

    for (std::size_t i = 0; i < files.size(); ++i) {
        const FileEntry& file = files[i];
        WriteLog(1, "*** Copy file " + std::to_string(i + 1) + " of " + n + " ***");
        CreateFolder(place.simFolder + LocalRelativePath(file.Folder), "Destination", 1,
                     "I was unable to create the destination directory; terminating.");
        const std::string relative = LocalRelativePath(file.FilePath);
        const std::string partial = journal.Find(relative)->partial;
        CopyToNewFile(place.tempFolder + relative, partial);
        if (!downloader.FileDigestMatches(partial, file.MD5Hash)) {
            RemoveQuietly(partial);
            throw std::runtime_error("Aborting file copy, a file has failed integrity-check after copying.");
        }
        ReplaceWith(partial, targets[i]);
        WriteLog(1, "Integrity OK: " + place.simFolder + relative);
    }
    Flush(place.simFolder, "the installed files");
    return static_cast<int>(files.size());
}

void FinishInstall(const InstallPlace& place) {
    RemoveJournal(JournalPath(place.tempFolder, place.productId));
}

}  // namespace zavr
