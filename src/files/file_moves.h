// File-system questions and moves that both update phases ask and make.
#pragma once

#include <string>

namespace zavr {

// True when a status query on the path succeeds and finds something there. Throws the file-system
// library's error (a std::runtime_error) when the status cannot be had.
bool PathExists(const std::string& path);

// Copies source to a temporary name beside target and returns that name. Throws the file-system
// library's error when the copy fails; the temporary file is then removed and target is untouched.
std::string CopyBeside(const std::string& source, const std::string& target);

// Renames from over to, replacing it in one step. Throws the file-system library's error; from is
// then removed and to is untouched.
void ReplaceWith(const std::string& from, const std::string& to);

// Removes a file if it is there; never throws.
void RemoveQuietly(const std::string& path);

}  // namespace zavr
