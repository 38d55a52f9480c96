// Times one FileDigestMatches over a file: prints "<seconds> <match>".
#include <chrono>
#include <cstdio>

#include "server/downloader.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: zavr-digest-bench FILE EXPECTED-DIGEST\n");
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();
    const bool match = zavr::Downloader().FileDigestMatches(argv[1], argv[2]);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%.4f %s\n", seconds, match ? "match" : "MISMATCH");
    return match ? 0 : 1;
}
