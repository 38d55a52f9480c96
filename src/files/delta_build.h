// A file built from the copy of it at hand and only the blocks it lacks: the server's block map of the
// new file (server/block_map.h) says what the file is made of, the older copy (the installed file, or
// a stale one in the temporary folder) gives what it still holds, and the rest comes as byte ranges of
// the new file. The finished file is checked against its listed MD5 like any other download.
#pragma once

#include <string>
#include <vector>

#include "files/file_list.h"
#include "log/held_lines.h"
#include "server/downloader.h"

namespace zavr {

struct DeltaJob {
    std::string address;    // the new file's
    std::string oldCopy;    // the copy at hand; only read
    std::string ownRoot;    // the temporary folder
    std::string relative;   // the target's path under ownRoot
    const FileEntry* file;  // its list entry: the MD5 to meet, and the map's digest if named
    bool mapMustBeNamed;    // a signed list: only a map whose digest it names is used
};

// Smaller files travel whole: their map would cost a round trip more than it could save.
bool WorthADelta(const FileEntry& file);

// The first of copies that could hold half of the listed file at least: a regular file of half its
// size or more. Empty when there is none. Never throws but std::bad_alloc.
std::string WorthBuildingFrom(const FileEntry& file, const std::vector<std::string>& copies);

// The address of the block map of the file at address.
std::string BlockMapAddress(const std::string& address);

// Builds the job's target, through its partial file, from the copy at hand and the ranges fetched; the
// map is taken from what Downloader::Prefetch started, when it did. True when the target holds the
// listed file. False, with the reason in lines, when the file is to be fetched whole instead: no map
// or one that cannot be used, a copy at hand that holds too little of the file or cannot be read, a
// range the server would not give, too little room on the disk, or a file that fails its check; no
// partial file is left then. Throws nothing but std::bad_alloc.
bool BuildFromCopyAtHand(const Downloader& downloader, const DeltaJob& job, HeldLines& lines);

}  // namespace zavr
