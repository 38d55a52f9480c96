// Where FetchText collects a reply through WriteToString (server/downloader.h).
#pragma once

#include <cstddef>
#include <string>

namespace zavr {

// The body so far, and whether it outgrew the limit.
struct TextSink {
    std::string text;
    std::size_t limit;
    bool overflowed = false;
    bool outOfMemory = false;  // no exception may pass through libcurl's C code
};

}  // namespace zavr
