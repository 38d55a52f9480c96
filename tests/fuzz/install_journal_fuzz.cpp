// The install journal lies in a folder other programs of the user can write: whatever it holds, reading it
// either refuses it with a sentence or yields a journal that writes back and reads again the same.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <stdexcept>
#include <string>

#include "files/install_journal.h"

namespace {

std::string path;

void RemoveFile() {
    std::remove(path.c_str());
}

bool Same(const zavr::InstallJournal& a, const zavr::InstallJournal& b) {
    if (a.toVersion != b.toVersion || a.files.size() != b.files.size()) return false;
    for (std::size_t i = 0; i < a.files.size(); ++i)
        if (a.files[i].key != b.files[i].key || a.files[i].backedUp != b.files[i].backedUp ||
            a.files[i].token != b.files[i].token)
            return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    path = "/tmp/zavr-journal-fuzz-" + std::to_string(::getpid()) + ".json";
    std::atexit(RemoveFile);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    {
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    zavr::InstallJournal journal;
    try {
        journal = zavr::ReadJournal(path, std::numeric_limits<std::int32_t>::min());
    } catch (const std::runtime_error&) {
        return 0;
    }
    zavr::WriteJournal(path, journal);
    if (!Same(zavr::ReadJournal(path, std::numeric_limits<std::int32_t>::min()), journal)) __builtin_trap();
    return 0;
}
