// What an update in progress has done that a later attempt must not undo. Written durably before the
// first installed file is replaced and removed once the new version is recorded, it tells a run that
// follows a failed or killed one which backups already hold the user's own files (and which files the
// update itself added), and which partial files in the simulator folder are provably the updater's.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zavr {

struct JournalFile {
    std::string key;        // the entry's FilePath as a local relative path
    bool backedUp = false;  // its backup holds the user's file; false: the update added it
    std::string partial;    // the partial file that the attempt may have left beside it; may be empty
};

struct InstallJournal {
    std::int32_t toVersion = 0;  // the version the attempt was installing
    std::vector<JournalFile> files;

    // The entry for key, or nullptr.
    const JournalFile* Find(const std::string& key) const;
};

// Where the journal of one product lives: in the Backup folder of its temporary folder, beside the
// trees that the server cannot reach.
std::string JournalPath(const std::string& tempFolder, std::int32_t productId);

// The journal at path; an empty one when there is none. Throws std::runtime_error naming the file when
// it is there but cannot be read or is not a journal: its backups might then be overwritten.
InstallJournal ReadJournal(const std::string& path);

// Replaces the journal at path durably. Throws std::runtime_error naming the file when it cannot.
void WriteJournal(const std::string& path, const InstallJournal& journal);

// Removes the journal of a finished update; never throws (a journal left behind is recognised as done
// by its version).
void RemoveJournal(const std::string& path);

}  // namespace zavr
