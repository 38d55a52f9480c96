#include "files/file_moves.h"

#include <boost/filesystem.hpp>
#include <stdexcept>

#include "log/next_step.h"
#include "platform/file_copy.h"
#include "platform/paths.h"
#include "platform/user_session.h"
#include "server/file_transfer.h"

namespace fs = boost::filesystem;

namespace zavr {

bool PathExists(const std::string& path) {
    return fs::exists(fs::status(fs::path(path)));
}

namespace {

// Calls visit with root + the first element of relative, then with each longer leading part, in order,
// for as long as visit returns true.
template <typename Visit>
void WalkElements(const std::string& root, const std::string& relative, Visit visit) {
    std::string path = root;
    for (std::size_t start = 0; start < relative.size();) {
        std::size_t end = relative.find(kPathSeparator, start);
        if (end == std::string::npos) end = relative.size();
        path += relative.substr(start, end - start);
        if (!visit(path)) return;
        path += kPathSeparator;
        start = end + 1;
    }
}

}  // namespace

void EnsureFolder(const std::string& folder, const FolderRole& role, HeldLines& lines) {
    if (PathExists(folder)) {
        lines.Log(0, std::string(role.name) + " location " + folder + " exists already - great.");
        return;
    }
    // False only when another program made it meanwhile; a file in its place is no folder, though.
    if (!boost::filesystem::create_directories(folder) && !boost::filesystem::is_directory(folder))
        throw std::runtime_error(role.failure);
    lines.Log(role.createdLevel, (role.createdLineNamesRole ? std::string(role.name) + " location " : "") +
                                     folder + " does not exist; created.");
}

void RefuseLinks(const std::string& root, const std::string& relative) {
    WalkElements(root, relative, [](const std::string& path) {
        boost::system::error_code error;
        const fs::file_type type = fs::symlink_status(fs::path(path), error).type();
        if (type == fs::symlink_file || type == fs::reparse_file)
            throw std::runtime_error(
                "I found a link at " + path +
                " in my own folder, where only I should write; I refuse to go through it.");
        return type != fs::file_not_found;  // nothing further down exists either
    });
}

void ClearWayInOwnTree(const std::string& root, const std::string& folderRelative,
                       const std::string& fileRelative) {
    WalkElements(root, folderRelative, [](const std::string& path) {
        const fs::file_type type = fs::symlink_status(fs::path(path)).type();
        if (type == fs::directory_file) return true;
        if (type != fs::file_not_found) fs::remove(fs::path(path));  // a file left where a folder now goes
        return false;
    });
    for (const std::string& path : {root + fileRelative, root + fileRelative + kPartialSuffix}) {
        boost::system::error_code error;
        const fs::file_type type = fs::symlink_status(fs::path(path), error).type();
        if (type == fs::file_not_found || type == fs::regular_file || type == fs::status_error) continue;
        if (type == fs::directory_file && !fs::is_empty(fs::path(path)))
            throw std::runtime_error(path +
                                     " is a folder with something in it, where I keep a file of my own; I "
                                     "leave it alone. Remove it and run me again.");
        fs::remove(fs::path(path));  // a link goes itself, never what it leads to
    }
}

std::string FoldersOf(const std::string& relative) {
    const std::size_t last = relative.rfind(kPathSeparator);
    return last == std::string::npos ? std::string() : relative.substr(0, last);
}

void RefuseIfNotAFile(const std::string& path) {
    const fs::file_type type = fs::status(fs::path(path)).type();
    if (type != fs::file_not_found && type != fs::regular_file)
        throw std::runtime_error(path + " is not a plain file, so I can neither back it up nor replace it.");
}

void RefuseIfNotReplaceable(const std::string& path) {
    const boost::system::error_code problem = ReplaceableProblem(path);
    if (!problem) return;
    if (IsHeldByAnotherProgram(problem))
        throw UserFailure(path +
                              " is in use by another program, so I cannot replace it. Close the program that "
                              "holds it (the simulator) and run me again.",
                          NextStep::CloseProgram);
    throw UserFailure(
        "I cannot replace " + path + " (" + problem.message() + "), so I replaced none of your files.",
        NextStep::CheckAccess);
}

void RefuseLongPath(const std::string& path, bool folder) {
    const std::size_t longest = LongestPath(folder);
    if (path.size() <= longest) return;
    throw std::runtime_error(
        "The path " + path + " is longer than the " + std::to_string(longest) +
        " characters that Windows lets me use, so I change nothing for this product. Move "
        "the simulator to a shorter folder and run me again.");
}

std::string LinkedFile(const std::string& path) {
    if (!fs::is_symlink(fs::symlink_status(fs::path(path)))) return path;
    return fs::canonical(fs::path(path)).string();
}

void MakeBackup(const std::string& original, const std::string& backup,
                const std::function<void(std::uint64_t bytes)>& beforeCopy) {
    boost::system::error_code error;
    fs::remove(fs::path(backup), error);
    fs::create_hard_link(fs::path(original), fs::path(backup), error);
    if (!error) return;
    beforeCopy(fs::file_size(fs::path(original)));
    CopyFileData(original, backup);  // another volume, or one without hard links
}

void CopyToNewFile(const std::string& source, const std::string& partial) {
    try {
        CopyFileData(source, partial, CopyTarget::CreateNew);
    } catch (const fs::filesystem_error& error) {
        // An existing file is never ours to remove.
        if (error.code() != boost::system::errc::file_exists) RemoveQuietly(partial);
        throw;
    }
}

void ReplaceWith(const std::string& from, const std::string& to) {
    try {
        fs::rename(fs::path(from), fs::path(to));
    } catch (...) {
        RemoveQuietly(from);
        throw;
    }
}

void RemoveQuietly(const std::string& path) {
    boost::system::error_code ignored;
    fs::remove(fs::path(path), ignored);
}

}  // namespace zavr
