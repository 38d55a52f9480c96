// A C stdio file that is closed on every exit path.
#pragma once

#include <cstdio>
#include <memory>

namespace zavr {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// Where the result of closing matters (the last flush of a written file), release() the file and
// fclose it by hand.
using CFile = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace zavr
