// What a Windows user meets that a POSIX one does not: a console window of the program's own, files held
// open by a running program, and a limit on path lengths. On POSIX each answers as a terminal and a file
// system without those would.
#pragma once

#include <boost/system/error_code.hpp>
#include <cstddef>
#include <string>

namespace zavr {

// When the program was started in a console window of its own (double-clicked: no other process shares
// the console) and both standard input and output are that console, asks for Enter and waits for it, for
// a minute at most, so that the last lines can be read before the window closes. Otherwise (a console
// of a shell, redirected streams, POSIX) returns at once. Never throws.
void HoldOwnConsoleWindow();

// Whether the existing file at path can be replaced now: on Windows, whether it can be opened for
// deletion while other programs have it open (a running program that holds it without sharing deletion
// prevents it); on POSIX, whether its folder may be written. The system's error when not; an empty one
// otherwise. Never throws.
boost::system::error_code ReplaceableProblem(const std::string& path);

// Whether error says that another program holds the file open. Never throws.
bool IsHeldByAnotherProgram(const boost::system::error_code& error);

// The longest path, in characters, that the program may create: a file's, or a folder's, which Windows
// limits further (the ANSI calls that the program makes cannot pass 260 characters). POSIX sets no limit
// that a simulator folder meets. Never throws.
std::size_t LongestPath(bool folder);

}  // namespace zavr
