// What an update in progress has done that a later attempt must not undo. Written durably before the
// first installed file is replaced and removed once the new version is recorded, it tells a run that
// follows a failed or killed one which backups already hold the user's own files (and which files the
// update itself added), and which partial files in the simulator folder are provably the updater's.
//
// The journal lies in a folder that other programs of the user can write, so it is read as input, never
// as authority: it carries no path (only each file's key and the random part of its partial file's
// name, both checked), it is never quoted, and every claim in it is checked before it is relied on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zavr {

struct JournalFile {
    std::string key;        // the entry's FilePath as a local relative path (a safe relative path)
    bool backedUp = false;  // its backup holds the user's file; false: the update added it
    std::string token;      // the 16 hexadecimal digits of its partial file's name; empty for none
    // A journal written before tokens names the partial file whole: it is used only where it equals
    // the name derived from the key and the token.
    std::string writtenPartial;
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

// The partial file named by token beside target (the file an entry replaces).
std::string JournalPartialPath(const std::string& target, const std::string& token);

// The journal at path; an empty one when there is none, when its ToVersion is at most installed (that
// update was recorded, and the rest of it is not even read), or when what stands there is not a plain
// file (a link, a FIFO, a folder: not one the updater wrote; a level-0 line says it is ignored). Throws
// std::runtime_error naming the file, never quoting it, when it cannot be read, is larger than any
// journal the updater writes, or is not a journal: its backups might then be overwritten.
InstallJournal ReadJournal(const std::string& path, std::int32_t installed);

// Replaces the journal at path durably. Throws std::runtime_error naming the file when it cannot.
void WriteJournal(const std::string& path, const InstallJournal& journal);

// Removes the journal of a finished update; never throws (a journal left behind is recognised as done
// by its version).
void RemoveJournal(const std::string& path);

}  // namespace zavr
