// The second half of a product's update: back up every installed file that the update replaces, put
// the downloaded files in their place and check them.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include "server/downloader.h"

namespace zavr {

// Where, and from which version to which, one product is installed.
struct InstallPlace {
    std::string tempFolder;  // the product's temporary folder, holding the downloaded files
    std::string backupRoot;  // see BackupRoot
    std::string simFolder;   // the simulator's folder, ending in the separator
    std::int32_t productId = 0;
    std::int32_t fromVersion = 0;  // installed now
    std::int32_t toVersion = 0;    // being installed
};

// Where the files that an update replaces are kept: tempFolder + "Backup\<aircraft>\<simulator>\".
std::string BackupRoot(const std::string& tempFolder, const std::string& aircraftCode,
                       const std::string& simFamily);

// Installs every entry of manifest and returns the number installed (0 for an empty list). First every
// installed file that an entry replaces is backed up (unless an earlier, unfinished attempt at this
// update already did, as its journal says) and the backups are flushed to the disk; then each
// downloaded file is copied beside its destination under a new name, checked, and renamed over it, and
// the simulator folder's volume is flushed. A linked destination is replaced at its target. Throws
// std::runtime_error: "I was unable to create the Backup directory; terminating.", "... destination
// directory ...", "Aborting file copy, a file has failed integrity-check after copying." (the installed
// file then unchanged), a sentence for a link in the updater's own folders, a damaged journal or a
// flush that failed, and the file-system library's errors. Entries before a failure stay installed.
int InstallFiles(const Downloader& downloader, const nlohmann::json& manifest, const InstallPlace& place);

// Ends an update whose version has been recorded: its journal is no longer needed. Never throws.
void FinishInstall(const InstallPlace& place);

}  // namespace zavr
