// An installed file is never left half-written: the new copy is checked beside it and then renamed over
// it in one step.
#include "files/install_phase.h"

#include <boost/filesystem.hpp>
#include <stdexcept>

#include "files/file_list.h"
#include "files/file_moves.h"
#include "log/log.h"
#include "platform/file_copy.h"
#include "platform/paths.h"

namespace zavr {

std::string BackupRoot(const std::string& tempFolder, const std::string& aircraftCode,
                       const std::string& simFamily) {
    return tempFolder + "Backup" + Sep() + aircraftCode + Sep() + simFamily + Sep();
}

int InstallFiles(const Downloader& downloader, const nlohmann::json& manifest, const std::string& tempFolder,
                 const std::string& backupRoot, const std::string& simFolder) {
    const std::vector<const nlohmann::json*> entries = FileListEntries(manifest);
    const std::string n = std::to_string(entries.size());
    int installed = 0;
    for (std::size_t i = 1; i <= entries.size(); ++i) {
        const FileEntry file = ReadFileEntry(*entries[i - 1], i);
        WriteLog(1, "*** Copy file " + std::to_string(i) + " of " + n + " ***");

        const std::string backupFolder = backupRoot + LocalRelativePath(file.Folder);
        if (PathExists(backupFolder)) {
            WriteLog(0, "Backup location " + backupFolder + " exists already - great.");
        } else {
            if (!boost::filesystem::create_directories(backupFolder))
                throw std::runtime_error("I was unable to create the Backup directory; terminating.");
            WriteLog(0, "Backup location " + backupFolder + " does not exist; created.");
        }

        const std::string destination = simFolder + LocalRelativePath(file.FilePath);
        const std::string backup = backupRoot + LocalRelativePath(file.FilePath);
        if (PathExists(destination)) {
            // An earlier backup is replaced in place: the installed file is still untouched here, so a
            // copy that fails part-way loses nothing the user has.
            CopyFileData(destination, backup);
            WriteLog(0, "Backed up " + destination + " to " + backup);
        }

        const std::string destinationFolder = simFolder + LocalRelativePath(file.Folder);
        if (PathExists(destinationFolder)) {
            WriteLog(0, "Destination location " + destinationFolder + " exists already - great.");
        } else {
            if (!boost::filesystem::create_directories(destinationFolder))
                throw std::runtime_error("I was unable to create the destination directory; terminating.");
            WriteLog(1, destinationFolder + " does not exist; created.");
        }

        const std::string fresh = CopyBeside(tempFolder + LocalRelativePath(file.FilePath), destination);
        if (!downloader.FileDigestMatches(fresh, file.MD5Hash)) {
            RemoveQuietly(fresh);
            throw std::runtime_error("Aborting file copy, a file has failed integrity-check after copying.");
        }
        ReplaceWith(fresh, destination);
        WriteLog(1, "Integrity OK: " + destination);
        ++installed;
    }
    return installed;
}

}  // namespace zavr
