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
#include "log/next_step.h"
#include "platform/disk_space.h"
#include "platform/durable_file.h"
#include "platform/paths.h"
#include "server/progress.h"

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

void Flush(const std::string& folder, const char* what) {
    if (!FlushVolume(folder))
        throw std::runtime_error(std::string("I could not make sure that ") + what + " reached the disk (" +
                                 folder + "); I stop before relying on them.");
}

// Whether the disk that holds folder can take bytes more and keep reserve free; throws the disk sentence
// otherwise.
void RequireRoom(const std::string& folder, std::uint64_t bytes, std::uint64_t reserve,
                 const std::string& what) {
    const std::uint64_t free = FreeDiskBytes(folder);
    if (free >= reserve && free - reserve >= bytes) return;
    throw UserFailure("The disk that holds " + folder + " is nearly full: " + what + " need " +
                          HumanBytes(static_cast<double>(bytes)) + " and I keep " +
                          HumanBytes(static_cast<double>(reserve)) +
                          " of it free, so I replaced none of your files. Free some space there and run me "
                          "again.",
                      NextStep::FreeSpace);
}

// What each entry replaces: its destination, or a link's target. Refuses links in the updater's own
// folders, paths longer than the system allows, and anything at a destination that is not a file or
// cannot be replaced now.
std::vector<std::string> Targets(const std::vector<FileEntry>& files, const InstallPlace& place) {
    const std::string backupRelative = place.backupRoot.substr(place.tempFolder.size());
    std::vector<std::string> targets;
    for (const FileEntry& file : files) {
        const std::string relative = LocalRelativePath(file.FilePath);
        RefuseLinks(place.tempFolder, relative);
        RefuseLinks(place.tempFolder, backupRelative + relative);
        RefuseLongPath(place.simFolder + LocalRelativePath(file.Folder), true);
        RefuseLongPath(place.backupRoot + LocalRelativePath(file.Folder), true);
        RefuseLongPath(place.backupRoot + relative, false);
        targets.push_back(LinkedFile(place.simFolder + relative));
        RefuseLongPath(JournalPartialPath(targets.back(), "0123456789abcdef"), false);
        RefuseIfNotAFile(targets.back());
        // A running simulator holds its files: nothing is replaced unless all of them can be.
        if (PathExists(targets.back())) RefuseIfNotReplaceable(targets.back());
    }
    return targets;
}

// Partial files that an earlier attempt at this update left beside the files of this list. Their names
// are derived from the entry and the journal's token, never taken from the journal: created
// exclusively under a name only that attempt used, they are provably the updater's. A name that an
// older journal wrote whole is used only where it equals the derived one.
void RemoveLeftovers(const InstallJournal& journal, const std::vector<FileEntry>& files,
                     const std::vector<std::string>& targets) {
    for (std::size_t i = 0; i < files.size(); ++i) {
        const JournalFile* record = journal.Find(LocalRelativePath(files[i].FilePath));
        if (record == nullptr || record->token.empty()) continue;
        const std::string partial = JournalPartialPath(targets[i], record->token);
        if (!record->writtenPartial.empty() && record->writtenPartial != partial) continue;
        boost::system::error_code error;
        if (boost::filesystem::symlink_status(partial, error).type() == boost::filesystem::regular_file)
            RemoveQuietly(partial);
    }
}

// Keeps the installed file that an entry replaces, unless an earlier attempt at this update provably
// did: its journal's claim that a backup holds the user's file counts only while that backup is a plain
// file, and its claim that the update added the file only while the file there has the new content.
// True when a backup was made now.
bool BackUp(const Downloader& downloader, const FileEntry& file, const std::string& target,
            const JournalFile* before, const InstallPlace& place, JournalFile& record) {
    const std::string backup = place.backupRoot + record.key;
    boost::system::error_code error;
    if (before != nullptr && before->backedUp &&
        boost::filesystem::symlink_status(backup, error).type() == boost::filesystem::regular_file) {
        record.backedUp = true;
        return false;
    }
    if (before != nullptr && (!PathExists(target) || downloader.FileDigestMatches(target, file.MD5Hash)))
        return false;  // nothing there, or the update's own file
    HeldLines live(true);
    EnsureFolder(place.backupRoot + LocalRelativePath(file.Folder), kBackupFolder, live);
    if (!PathExists(target)) return false;
    MakeBackup(target, backup, [&](std::uint64_t bytes) {
        RequireRoom(place.backupRoot, bytes, downloader.DiskReserveBytes(), "the backup of " + target);
    });
    WriteLog(0, "Backed up " + target + " to " + backup);
    record.backedUp = true;
    return true;
}

// Puts one downloaded file in the place of target: copied beside it as partial, checked, and renamed
// over it in one step.
void InstallOne(const Downloader& downloader, const FileEntry& file, const std::string& target,
                const std::string& partial, const InstallPlace& place) {
    HeldLines live(true);
    EnsureFolder(place.simFolder + LocalRelativePath(file.Folder), kDestinationFolder, live);
    const std::string relative = LocalRelativePath(file.FilePath);
    CopyToNewFile(place.tempFolder + relative, partial);
    if (!downloader.FileDigestMatches(partial, file.MD5Hash)) {
        RemoveQuietly(partial);
        throw std::runtime_error("Aborting file copy, a file has failed integrity-check after copying.");
    }
    try {
        ReplaceWith(partial, target);
    } catch (const boost::filesystem::filesystem_error&) {
        RefuseIfNotReplaceable(target);  // opened since the check: say so, not the system's words
        throw;
    }
    WriteLog(1, "Integrity OK: " + place.simFolder + relative);
}

}  // namespace

std::string BackupRoot(const std::string& tempFolder, const std::string& aircraftCode,
                       const std::string& simFamily) {
    return tempFolder + "Backup" + Sep() + aircraftCode + Sep() + simFamily + Sep();
}

int InstallFiles(const Downloader& downloader, const nlohmann::json& manifest, const InstallPlace& place) {
    const std::vector<FileEntry> files = ReadFileEntries(manifest);
    if (files.empty()) return 0;
    const std::string count = std::to_string(files.size());
    const std::string journalPath = JournalPath(place.tempFolder, place.productId);
    RefuseLinks(place.tempFolder, LocalRelativePath("Backup"));
    const std::vector<std::string> targets = Targets(files, place);

    const InstallJournal earlier = ReadJournal(journalPath, place.fromVersion);
    RemoveLeftovers(earlier, files, targets);

    // First every backup, so that no installed file is replaced before all of them are on the disk.
    InstallJournal journal;
    journal.toVersion = place.toVersion;
    const std::string token = NewToken();
    std::set<std::string> seen;
    std::uint64_t newBytes = 0;
    bool backedUp = false;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const std::string relative = LocalRelativePath(files[i].FilePath);
        if (!seen.insert(NameKey(relative)).second) continue;  // named again: done the first time
        JournalFile record{relative, false, token, std::string()};
        backedUp |= BackUp(downloader, files[i], targets[i], earlier.Find(relative), place, record);
        journal.files.push_back(std::move(record));
        boost::system::error_code missing;  // the copy below says so, in its own words
        const std::uintmax_t size = boost::filesystem::file_size(place.tempFolder + relative, missing);
        if (!missing) newBytes += size;
    }
    for (const JournalFile& file : earlier.files)
        if (journal.Find(file.key) == nullptr)
            journal.files.push_back({file.key, file.backedUp, std::string(), std::string()});
    if (backedUp) Flush(place.backupRoot, "the backups");
    RequireRoom(place.simFolder, newBytes, downloader.DiskReserveBytes(), "the new files");
    WriteJournal(journalPath, journal);

    for (std::size_t i = 0; i < files.size(); ++i) {
        WriteLog(1, "*** Copy file " + std::to_string(i + 1) + " of " + count + " ***");
        InstallOne(downloader, files[i], targets[i], JournalPartialPath(targets[i], token), place);
    }
    Flush(place.simFolder, "the installed files");
    return static_cast<int>(files.size());
}

void FinishInstall(const InstallPlace& place) {
    RemoveJournal(JournalPath(place.tempFolder, place.productId));
}

}  // namespace zavr
