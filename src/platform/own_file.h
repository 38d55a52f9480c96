// Files of the updater's own trees (partial downloads, temporary names, the install journal). Those
// trees lie where other programs of the user can write while the updater may run with more rights, so
// nothing found there is trusted: no file is reached through a link, no file that is not a regular file
// with one name is opened for writing, and no special file (a FIFO) is ever opened in a way that waits.
#pragma once

#include <boost/system/error_code.hpp>
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/c_file.h"

namespace zavr {

enum class OwnFileMode {
    Fresh,     // a new, empty file
    Continue,  // the regular file with one name that is there, positioned at its end; else as Fresh
};

// Opens root + relative for reading and writing. relative is a local relative path whose folders exist
// under root; they are walked without following links (on POSIX element by element from root's
// descriptor with O_NOFOLLOW; on Windows the opened file's final path must lie under root's). What
// stands at the name and is not a file to continue (a file with another name elsewhere, a link, which is
// removed itself, a FIFO, an empty folder) is removed, and the file is created exclusively. existingBytes
// receives what a continued file holds (0 for a new one). Null, with error set, when a folder on the way
// is a link or missing, a folder that is not empty stands at the name (ENOTEMPTY or the system's
// equivalent), or the system refuses. Never throws but std::bad_alloc.
CFile OpenOwnFile(const std::string& root, const std::string& relative, OwnFileMode mode,
                  std::uint64_t& existingBytes, boost::system::error_code& error);

// The size of an open file as the system reports it; false when it cannot tell. Never throws.
bool OpenFileSize(std::FILE* file, std::uint64_t& size);

// Moves an open file to offset from its start, beyond 2 GiB too. False when the system refuses. Never
// throws.
bool SeekFile(std::FILE* file, std::uint64_t offset);

// Empties a file opened by OpenOwnFile and positions it at its start. False when the system refuses.
bool EmptyOwnFile(std::FILE* file);

// Opens the regular file at path for reading, links followed (an installed file may be one), without
// ever waiting on a FIFO. Null when it cannot be opened or is not a regular file. Never throws.
CFile OpenRegularFile(const std::string& path);

enum class OwnRead {
    Read,           // text holds the whole file
    Missing,        // nothing is there
    NotAPlainFile,  // a link, a folder, a FIFO or a device: it was not opened
    TooLarge,       // larger than maxBytes: it was not read
    Failed,         // error says why
};

// Reads the regular file at path, never through a link (the last element; the caller checks the
// folders) and never waiting on a special file. Never throws but std::bad_alloc.
OwnRead ReadOwnFile(const std::string& path, std::uint64_t maxBytes, std::string& text,
                    boost::system::error_code& error);

}  // namespace zavr
