// The second half of a product's update: for each listed file, back up the installed copy, put the
// downloaded one in its place and check it.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "server/downloader.h"

namespace zavr {

// Where the files that an update replaces are kept: tempFolder + "Backup\<aircraft>\<simulator>\".
std::string BackupRoot(const std::string& tempFolder, const std::string& aircraftCode,
                       const std::string& simFamily);

// For each entry of manifest: backs up the installed file under backupRoot, puts the file downloaded to
// tempFolder in its place under simFolder and checks it. Returns the number installed (0 for an empty
// list). Throws std::runtime_error: "I was unable to create the Backup directory; terminating.", "...
// destination directory ...", "Aborting file copy, a file has failed integrity-check after copying."
// (the installed file then unchanged), and the file-system library's errors. Entries before a failure
// stay installed.
int InstallFiles(const Downloader& downloader, const nlohmann::json& manifest, const std::string& tempFolder,
                 const std::string& backupRoot, const std::string& simFolder);

}  // namespace zavr
