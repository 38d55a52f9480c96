// Whether a standard stream is a person's terminal, on either platform.
#pragma once

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace zavr {

// fd is 1 for standard output, 2 for standard error. Never fails.
inline bool IsTerminal(int fd) {
#ifdef _WIN32
    return _isatty(fd) != 0;
#else
    return isatty(fd) != 0;
#endif
}

}  // namespace zavr
