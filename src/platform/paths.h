// What differs between Windows and POSIX in local paths: the folder separator, and how two names compare.
#pragma once

#include <string>

namespace zavr {

#ifdef _WIN32
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

// The separator as a one-character text, for building paths by concatenation.
inline std::string Sep() {
    return std::string(1, kPathSeparator);
}

// A server-relative path (backslash-separated) in the form it takes appended to a local folder:
// unchanged on Windows, every backslash turned into the local separator elsewhere. Never fails.
std::string LocalRelativePath(std::string serverPath);

// text with the ASCII letters in lower case, every other byte as it is. Never fails.
std::string AsciiLowerCase(std::string text);

// A name or path in the form that two spellings of one file share on the target's file system: ASCII
// letters in lower case on Windows, which compares names so; unchanged on POSIX, where two spellings are
// two files. Never fails.
std::string NameKey(std::string name);

}  // namespace zavr
