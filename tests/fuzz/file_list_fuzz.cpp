// The file-list walk: every entry is refused with a sentence or yields paths that stay inside the folder
// they are appended to.
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
    while (start <= local.size()) {
        std::size_t end = local.find_first_of("/\\", start);
        if (end == std::string::npos) end = local.size();
        if (local.compare(start, end - start, "..") == 0) __builtin_trap();
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
    } catch (const std::runtime_error&) {
    }
    return 0;
}
