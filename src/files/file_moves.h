// File-system questions and moves that both update phases ask and make.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "log/held_lines.h"

namespace zavr {

// True when a status query on the path succeeds and finds something there. Throws the file-system
// library's error (a std::runtime_error) when the status cannot be had.
bool PathExists(const std::string& path);

// What the log says of one kind of folder that an update makes where it is missing.
struct FolderRole {
    const char* name;           // "<name> location <folder> exists already - great." (level 0)
    int createdLevel;           // the level of the line that says it was made, which ...
    bool createdLineNamesRole;  // ... begins "<name> location " rather than with the folder
    const char* failure;        // the sentence when it cannot be made
};
constexpr FolderRole kTemporaryFolder{"Temporary", 0, false,
                                      "I was unable to create the temporary directory; terminating."};
constexpr FolderRole kBackupFolder{"Backup", 0, true,
                                   "I was unable to create the Backup directory; terminating."};
constexpr FolderRole kDestinationFolder{"Destination", 1, false,
                                        "I was unable to create the destination directory; terminating."};

// Makes folder, with the folders it lies in, where it is missing, and says to lines which it was.
// Throws std::runtime_error(role.failure) when it is still not a folder, and the file-system library's
// error when making it fails.
void EnsureFolder(const std::string& folder, const FolderRole& role, HeldLines& lines);

// The updater's own folders lie where other programs of the user can write, while the program runs
// with more rights: throws std::runtime_error naming it when root + relative (a local relative path)
// passes through a link (a symbolic link, or on Windows any reparse point such as a junction) at any
// element of relative that exists. Nothing is created or changed.
void RefuseLinks(const std::string& root, const std::string& relative);

// The temporary tree is the updater's own, and heals: what stands where a folder of folderRelative must
// go and is not a folder is removed; what stands where the file fileRelative or its partial file must go
// and is not a regular file (a link, which is removed itself, a FIFO, an empty folder) is removed. Links
// among the folders are refused before this (RefuseLinks); nothing is removed by recursing. Throws
// std::runtime_error naming it for a folder with something in it where a file must go, and the
// file-system library's error.
void ClearWayInOwnTree(const std::string& root, const std::string& folderRelative,
                       const std::string& fileRelative);

// The folders of a local relative path: everything before its last separator; empty for none.
std::string FoldersOf(const std::string& relative);

// Throws std::runtime_error naming path when something other than a regular file stands there (a folder,
// a FIFO, a device): nothing of it can be backed up or replaced as a file.
void RefuseIfNotAFile(const std::string& path);

// Throws std::runtime_error naming path when the existing file there cannot be replaced now: "<path> is
// in use by another program, so I cannot replace it. Close the program that holds it (the simulator) and
// run me again." when a running program holds it; otherwise "I cannot replace <path> (<reason>), so I
// replaced none of your files.", which a caller checking before the first replacement may throw as is.
void RefuseIfNotReplaceable(const std::string& path);

// Throws std::runtime_error naming path when it is longer than the system lets the program create (see
// LongestPath); folder says what it names.
void RefuseLongPath(const std::string& path, bool folder);

// The file that writing to path should replace: path itself, or where it leads when path is a link
// (the link stays in place). Throws the file-system library's error for a link that leads nowhere.
std::string LinkedFile(const std::string& path);

// Makes backup hold the content of original: a hard link to it where the volume allows one (no data
// moves, and original is only ever replaced by a rename, never written in place), otherwise a copy,
// which beforeCopy(bytes) may refuse by throwing. An earlier file at backup is replaced. Throws the
// file-system library's error and what beforeCopy throws.
void MakeBackup(const std::string& original, const std::string& backup,
                const std::function<void(std::uint64_t bytes)>& beforeCopy);

// Copies source to partial, which must not exist yet, and returns normally only when it is all there.
// Throws the file-system library's error when the copy fails; partial is then removed.
void CopyToNewFile(const std::string& source, const std::string& partial);

// Renames from over to, replacing it in one step. Throws the file-system library's error; from is
// then removed and to is untouched.
void ReplaceWith(const std::string& from, const std::string& to);

// Removes a file if it is there; never throws.
void RemoveQuietly(const std::string& path);

}  // namespace zavr
