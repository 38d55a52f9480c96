#include "files/install_journal.h"

#include <nlohmann/json.hpp>
#include <stdexcept>

#include "files/file_list.h"
#include "files/file_moves.h"
#include "log/log.h"
#include "platform/durable_file.h"
#include "platform/own_file.h"
#include "platform/paths.h"
#include "server/json_read.h"

namespace zavr {
namespace {

using nlohmann::json;

// The largest journal the updater writes: the keys of the largest list it accepts (100,000 entries
// from a reply of at most 64 MiB, every byte at worst escaped to two) and each entry's fixed part.
constexpr std::uint64_t kMaxJournalBytes = (std::uint64_t{64} << 20) * 2 + std::uint64_t{100000} * 128;

bool IsToken(const std::string& text) {
    if (text.size() != 16) return false;
    for (const char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

// The token of a partial-file name "<anything>.zavr-<token>.partial"; empty when it has none.
std::string TokenOfPartial(const std::string& partial) {
    const std::string suffix = ".partial";
    const std::size_t end = partial.size() >= suffix.size() ? partial.size() - suffix.size() : 0;
    if (end < 22 || partial.compare(end, suffix.size(), suffix) != 0 ||
        partial.compare(end - 22, 6, ".zavr-") != 0)
        return std::string();
    const std::string token = partial.substr(end - 16, 16);
    return IsToken(token) ? token : std::string();
}

// One entry, checked; throws std::invalid_argument (without quoting anything) when it is not one.
JournalFile ReadEntry(const json& entry) {
    JournalFile file;
    file.key = entry.at("Key").get<std::string>();
    if (file.key.empty() || UnsafePathReason(file.key))
        throw std::invalid_argument("an entry names an unsafe path");
    file.backedUp = entry.at("BackedUp").get<bool>();
    if (entry.contains("Token")) {
        file.token = entry.at("Token").get<std::string>();
        if (!file.token.empty() && !IsToken(file.token)) throw std::invalid_argument("a token is malformed");
    } else {
        file.writtenPartial = entry.at("Partial").get<std::string>();
        file.token = TokenOfPartial(file.writtenPartial);
    }
    return file;
}

[[noreturn]] void Damaged(const std::string& path, const char* why) {
    throw std::runtime_error("My install record " + path +
                             " is damaged, so I cannot tell which backups hold your own files; I stop before "
                             "changing anything (" +
                             why + ").");
}

}  // namespace

const JournalFile* InstallJournal::Find(const std::string& key) const {
    const std::string wanted = NameKey(key);
    for (const JournalFile& file : files)
        if (NameKey(file.key) == wanted) return &file;
    return nullptr;
}

std::string JournalPath(const std::string& tempFolder, std::int32_t productId) {
    return tempFolder + "Backup" + Sep() + "zavr-install-" + std::to_string(productId) + ".json";
}

std::string JournalPartialPath(const std::string& target, const std::string& token) {
    return target + ".zavr-" + token + ".partial";
}

InstallJournal ReadJournal(const std::string& path, std::int32_t installed) {
    InstallJournal journal;
    std::string text;
    boost::system::error_code error;
    switch (ReadOwnFile(path, kMaxJournalBytes, text, error)) {
        case OwnRead::Missing:
            return journal;
        case OwnRead::NotAPlainFile:
            WriteLog(
                0, "My install record " + path + " is not a plain file, so I did not write it; I ignore it.");
            return journal;
        case OwnRead::TooLarge:
            Damaged(path, "it is larger than any record I write");
        case OwnRead::Failed:
            throw std::runtime_error("I cannot read my install record " + path + ": " + error.message() +
                                     ".");
        case OwnRead::Read:
            break;
    }
    json document;
    try {
        document = json::parse(text);
    } catch (const json::exception&) {
        Damaged(path, "it is not JSON");
    }
    try {
        journal.toVersion = ToInt32(document.at("ToVersion"));
        if (journal.toVersion <= installed) return InstallJournal();  // protects nothing any more
        for (const json& entry : document.at("Files")) journal.files.push_back(ReadEntry(entry));
    } catch (const std::exception&) {  // the library's messages would quote the file
        Damaged(path, "it is not in the form I write");
    }
    return journal;
}

void WriteJournal(const std::string& path, const InstallJournal& journal) {
    json files = json::array();
    for (const JournalFile& file : journal.files)
        files.push_back({{"Key", file.key}, {"BackedUp", file.backedUp}, {"Token", file.token}});
    const json document = {{"ToVersion", journal.toVersion}, {"Files", std::move(files)}};
    const std::string text = document.dump(1, '\t', false, json::error_handler_t::replace) + "\n";
    if (text.size() > kMaxJournalBytes)
        throw std::runtime_error("My install record " + path +
                                 " would be larger than I accept to read back.");
    if (const boost::system::error_code error = ReplaceFileDurably(path, text))
        throw std::runtime_error("I cannot write my install record " + path + ": " + error.message() + ".");
}

void RemoveJournal(const std::string& path) {
    RemoveQuietly(path);
}

}  // namespace zavr
