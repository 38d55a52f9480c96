// The file-list walk: every entry is refused with a sentence or yields paths that stay inside the folder
// they are appended to, have one spelling only and keep out of the updater's Backup tree; a whole list
// is refused when two entries name one file with different digests.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "files/file_list.h"
#include "platform/paths.h"

namespace {

// What the entry's path becomes under a local folder may not climb out of it or name another root.
void CheckInside(const std::string& serverPath) {
    const std::string local = zavr::LocalRelativePath(serverPath);
    if (local.find('\0') != std::string::npos || local.find(':') != std::string::npos) __builtin_trap();
    if (!local.empty() && (local.front() == '/' || local.front() == '\\')) __builtin_trap();
    std::size_t start = 0;
    for (bool first = true; start <= local.size(); first = false) {
        std::size_t end = local.find_first_of("/\\", start);
        if (end == std::string::npos) end = local.size();
        const std::string element = local.substr(start, end - start);
        if (element == ".." || element == ".") __builtin_trap();
        if (element.empty() && end < local.size()) __builtin_trap();
        if (first && zavr::SameFileKey(element) == "backup") __builtin_trap();
        start = end + 1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        const nlohmann::json list =
            zavr::ParseFileList(std::string(reinterpret_cast<const char*>(data), size), "P");
        std::size_t number = 0;
        for (const nlohmann::json* entry : zavr::FileListEntries(list)) {
            try {
                const zavr::FileEntry file = zavr::ReadFileEntry(*entry, ++number);
                CheckInside(file.Folder);
                CheckInside(file.FilePath);
                if (file.FilePath.empty()) __builtin_trap();
            } catch (const std::runtime_error&) {
            }
        }
        const std::vector<zavr::FileEntry> files = zavr::ReadFileEntries(list);
        for (std::size_t i = 0; i < files.size(); ++i)
            for (std::size_t j = 0; j < i; ++j)
                if (zavr::SameFileKey(files[i].FilePath) == zavr::SameFileKey(files[j].FilePath) &&
                    files[i].MD5Hash != files[j].MD5Hash)
                    __builtin_trap();
    } catch (const std::runtime_error&) {
    }
    return 0;
}
