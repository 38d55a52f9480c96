// Reading the server's file list and refusing what could write outside the updater's folders.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace zavr {

// One file of an update, as its file-list entry gives it. Paths are backslash-separated and
// relative to the simulator's folder.
struct FileEntry {
    std::string Folder;
    std::string FilePath;
    std::int32_t FileSize = 0;  // kilobytes, for show
    std::string MD5Hash;
    std::string MapSHA256;  // of the file's block map (server/block_map.h); empty when the entry names none
};

// The entry's size in bytes as the list gives it (kilobytes times 1024); 0 when it is not positive.
// Never fails.
std::int64_t ListedBytes(const FileEntry& file);

// The document of a file-list reply, taken up to its first zero byte. Throws std::runtime_error with a
// sentence naming the product, followed by the library's message, when it is not valid JSON (a number
// too large for the library counts as such), and with one that says why when it is beyond the file-list
// reply limits (see ReplyLimits).
nlohmann::json ParseFileList(const std::string& text, const std::string& productName);

// The entries of a file-list document in its own order: array elements, object members (ascending
// key order), none for null, the value itself for any other value. Never fails.
std::vector<const nlohmann::json*> FileListEntries(const nlohmann::json& document);

// Reads entry number `number` (counted from 1) of a file list. Throws std::runtime_error with a
// sentence naming the entry when a key is missing or mistyped, or when Folder or FilePath is not a
// safe relative path (see UnsafePathReason).
FileEntry ReadFileEntry(const nlohmann::json& entry, std::size_t number);

// Reads every entry of a file list, in order, as ReadFileEntry does, and refuses a list in which two
// entries name the same file (see SameFileKey) with different digests: throws std::runtime_error with a
// sentence naming both. Entries that repeat a file with the same digest are kept.
std::vector<FileEntry> ReadFileEntries(const nlohmann::json& document);

// Two server paths name the same file when their keys are equal: every separator a backslash, and the
// letters as the target's file system compares them (see NameKey).
std::string SameFileKey(const std::string& path);

// Why a server-relative path could reach outside the folder it is appended to, or what else makes it
// unusable; nullopt when it is safe. Refused: an absolute path (a leading separator or a drive letter),
// a ".." or "." element, an empty element inside the path (a doubled separator; one trailing separator
// is allowed), a first element "Backup" in any letter case (the updater's own backup tree lies there in
// the temporary folder), an element ending in ".zavr-part" (the name of a partial download; compared
// as NameKey does), an element ending in a dot or a space (Windows drops them), a Windows device name
// (CON, PRN, AUX, NUL, COM1-9, LPT1-9, with any extension and in any letter case), a colon (a drive or an
// alternate stream on Windows), one of <>"|?*, a zero byte and any other control character. The
// decision is the same on every platform.
std::optional<std::string> UnsafePathReason(const std::string& path);

// Why a product's name or simulator cannot be a folder name under the data folder; nullopt when it can.
// Refused: a separator, "." or "..", a colon, a zero byte and any other control character.
std::optional<std::string> UnsafeNameReason(const std::string& name);

}  // namespace zavr
