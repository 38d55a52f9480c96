#include "files/install_journal.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>

#include "files/file_moves.h"
#include "platform/durable_file.h"
#include "platform/paths.h"
#include "server/json_read.h"

namespace zavr {

using nlohmann::json;

const JournalFile* InstallJournal::Find(const std::string& key) const {
    for (const JournalFile& file : files)
        if (file.key == key) return &file;
    return nullptr;
}

std::string JournalPath(const std::string& tempFolder, std::int32_t productId) {
    return tempFolder + "Backup" + Sep() + "zavr-install-" + std::to_string(productId) + ".json";
}

InstallJournal ReadJournal(const std::string& path) {
    InstallJournal journal;
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        if (errno == ENOENT || errno == ENOTDIR) return journal;  // no journal can be there
        throw std::runtime_error("I cannot read my install record " + path + ": " + std::strerror(errno) +
                                 ".");
    }
    std::ostringstream text;
    text << file.rdbuf();
    try {
        const json document = json::parse(text.str());
        journal.toVersion = ToInt32(document.at("ToVersion"));
        for (const json& entry : document.at("Files")) {
            JournalFile record;
            record.key = entry.at("Key").get<std::string>();
            record.backedUp = entry.at("BackedUp").get<bool>();
            record.partial = entry.at("Partial").get<std::string>();
            journal.files.push_back(std::move(record));
        }
    } catch (const json::exception& error) {
        throw std::runtime_error("My install record " + path +
                                 " is damaged, so I cannot tell which backups hold your own files; I stop "
                                 "before changing anything (" +
                                 error.what() + ").");
    }
    return journal;
}

void WriteJournal(const std::string& path, const InstallJournal& journal) {
    json files = json::array();
    for (const JournalFile& file : journal.files)
        files.push_back({{"Key", file.key}, {"BackedUp", file.backedUp}, {"Partial", file.partial}});
    const json document = {{"ToVersion", journal.toVersion}, {"Files", std::move(files)}};
    if (!ReplaceFileDurably(path, document.dump(1, '\t', false, json::error_handler_t::replace) + "\n"))
        throw std::runtime_error("I cannot write my install record " + path + ": " + std::strerror(errno) +
                                 ".");
}

void RemoveJournal(const std::string& path) {
    RemoveQuietly(path);
}

}  // namespace zavr
