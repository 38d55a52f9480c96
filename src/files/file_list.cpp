#include "files/file_list.h"

#include <map>
#include <stdexcept>

#include "log/log.h"
#include "platform/paths.h"
#include "server/file_transfer.h"
#include "server/json_read.h"

namespace zavr {
namespace {

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

// A name with one could forge a line of the log, or mean another file than it shows.
bool HasControlCharacter(const std::string& text) {
    for (const char c : text)
        if (IsControlCharacter(c)) return true;
    return false;
}

// CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9 and the console's own names, with or without an
// extension, in any letter case: Windows opens the device, whatever folder the name is in.
bool IsDeviceName(const std::string& element) {
    std::string base = AsciiLowerCase(element.substr(0, element.find('.')));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    if (base == "con" || base == "prn" || base == "aux" || base == "nul" || base == "conin$" ||
        base == "conout$")
        return true;
    return base.size() == 4 && (base.compare(0, 3, "com") == 0 || base.compare(0, 3, "lpt") == 0) &&
           base[3] >= '1' && base[3] <= '9';
}

std::string StringMember(const nlohmann::json& entry, const char* key) {
    const nlohmann::json& value = Member(entry, key);
    if (!value.is_string())
        throw std::runtime_error(std::string("its \"") + key + "\" is " +
                                 (value.is_null() ? "missing" : std::string("a ") + value.type_name()) +
                                 " instead of a string");
    return value.get<std::string>();
}

}  // namespace

nlohmann::json ParseFileList(const std::string& text, const std::string& productName) {
    try {
        return ParseReply(text, kFileListReplyLimits);
    } catch (const nlohmann::json::exception& error) {  // a parse error, or a number too large to hold
        throw std::runtime_error("The server's file list for " + productName + " is not valid JSON (" +
                                 error.what() + ").");
    } catch (const std::runtime_error& error) {
        throw std::runtime_error("The server's file list for " + productName +
                                 " is more than I accept: " + error.what() + "; I refuse it.");
    }
}

std::vector<const nlohmann::json*> FileListEntries(const nlohmann::json& document) {
    std::vector<const nlohmann::json*> entries;
    for (const nlohmann::json& entry : document) entries.push_back(&entry);
    return entries;
}

std::int64_t ListedBytes(const FileEntry& file) {
    return file.FileSize > 0 ? std::int64_t{file.FileSize} * 1024 : 0;
}

FileEntry ReadFileEntry(const nlohmann::json& entry, std::size_t number) {
    const std::string where = "Entry " + std::to_string(number) + " of the server's file list";
    if (!entry.is_object())
        throw std::runtime_error(where + " is a " + entry.type_name() + " instead of an object.");
    FileEntry file;
    try {
        file.Folder = StringMember(entry, "Folder");
        file.FilePath = StringMember(entry, "FilePath");
        const nlohmann::json& size = Member(entry, "FileSize");
        if (!size.is_number() && !size.is_boolean())
            throw std::runtime_error(std::string("its \"FileSize\" is ") +
                                     (size.is_null() ? "missing" : std::string("a ") + size.type_name()) +
                                     " instead of a number");
        try {
            file.FileSize = ToInt32(size);
        } catch (const nlohmann::json::type_error&) {
            throw std::runtime_error("its \"FileSize\" " + size.dump() + " is outside the 32-bit range");
        }
        file.MD5Hash = StringMember(entry, "MD5Hash");
        // Added later, and only a hint: a list without it, or with it mistyped, still serves.
        const auto map = entry.find("MapSHA256");
        if (map != entry.end() && map->is_string()) file.MapSHA256 = map->get<std::string>();
    } catch (const std::runtime_error& error) {
        throw std::runtime_error(where + " cannot be used: " + error.what() + ".");
    }
    for (const std::string* path : {&file.Folder, &file.FilePath}) {
        if (const std::optional<std::string> reason = UnsafePathReason(*path))
            throw std::runtime_error(where + " names the path \"" + *path + "\", which I refuse: " + *reason +
                                     ".");
    }
    if (file.FilePath.empty() || IsSeparator(file.FilePath.back()))
        throw std::runtime_error(where + " names the path \"" + file.FilePath +
                                 "\", which I refuse: it names no file.");
    return file;
}

std::optional<std::string> UnsafePathReason(const std::string& path) {
    if (path.find('\0') != std::string::npos) return "it holds a zero byte";
    if (HasControlCharacter(path)) return "it holds a control character";
    if (!path.empty() && IsSeparator(path.front())) return "it is absolute";
    if (path.size() >= 2 && path[1] == ':') return "it starts with a drive";
    if (path.find(':') != std::string::npos) return "it holds a colon";
    const std::size_t forbidden = path.find_first_of("<>\"|?*");
    if (forbidden != std::string::npos)
        return std::string("it holds the character ") + path[forbidden] +
               ", which Windows does not allow in a name";
    std::size_t start = 0;
    for (bool first = true; start <= path.size(); first = false) {
        std::size_t end = start;
        while (end < path.size() && !IsSeparator(path[end])) ++end;
        const std::string element = path.substr(start, end - start);
        if (element == "..") return "it climbs out of its folder with \"..\"";
        // Two spellings of one file would defeat the checks that keep its backup and its entries apart.
        if (element == ".") return "it holds a \".\" element";
        if (element.empty() && end < path.size()) return "it holds an empty element (a doubled separator)";
        if (first && AsciiLowerCase(element) == "backup")
            return "it reaches into the updater's Backup folder";
        // Windows drops them, so that "Backup." would be "Backup" and "a " would be "a".
        if (!element.empty() && (element.back() == '.' || element.back() == ' '))
            return "it has an element ending in a dot or a space, which Windows drops from a name";
        if (IsDeviceName(element)) return "it names the Windows device \"" + element + "\"";
        // A folder of that name would stand where a download of the same name keeps its partial file.
        const std::string suffix = kPartialSuffix;
        if (element.size() >= suffix.size() &&
            NameKey(element.substr(element.size() - suffix.size())) == suffix)
            return "it has an element ending in \"" + suffix +
                   "\", the name I give a download until it is complete";
        start = end + 1;
    }
    return std::nullopt;
}

std::string SameFileKey(const std::string& path) {
    std::string key = NameKey(path);
    for (char& c : key)
        if (c == '/') c = '\\';
    return key;
}

std::vector<FileEntry> ReadFileEntries(const nlohmann::json& document) {
    const std::vector<const nlohmann::json*> entries = FileListEntries(document);
    std::vector<FileEntry> files;
    files.reserve(entries.size());
    std::map<std::string, std::size_t> firstNaming;  // same-file key -> index into files
    for (std::size_t i = 0; i < entries.size(); ++i) {
        files.push_back(ReadFileEntry(*entries[i], i + 1));
        const auto [seen, added] = firstNaming.emplace(SameFileKey(files[i].FilePath), i);
        if (added || files[seen->second].MD5Hash == files[i].MD5Hash) continue;
        throw std::runtime_error("Entries " + std::to_string(seen->second + 1) + " and " +
                                 std::to_string(i + 1) + " of the server's file list name the same file (\"" +
                                 files[seen->second].FilePath + "\" and \"" + files[i].FilePath +
                                 "\") with different digests; I refuse the list.");
    }
    return files;
}

std::optional<std::string> UnsafeNameReason(const std::string& name) {
    if (name.find('\0') != std::string::npos) return "it holds a zero byte";
    if (HasControlCharacter(name)) return "it holds a control character";
    if (name == "." || name == "..") return "it is \"" + name + "\"";
    if (name.find_first_of("\\/") != std::string::npos) return "it holds a separator";
    if (name.find(':') != std::string::npos) return "it holds a colon";
    return std::nullopt;
}

}  // namespace zavr
