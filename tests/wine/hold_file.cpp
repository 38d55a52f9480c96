// A running simulator as the Wine scenarios need it: holds a file open without sharing its deletion, as
// the simulator holds its own, until told to let go.
// Usage: zavr-test-hold-file FILE STOP  (Windows paths). Prints "Holding FILE" once FILE is held, lets
// go when STOP appears (or after ten minutes), and exits 0; 1 when FILE cannot be opened.
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    const HANDLE held = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    if (held == INVALID_HANDLE_VALUE) return 1;
    std::printf("Holding %s\n", argv[1]);
    std::fflush(stdout);
    for (int i = 0; i < 6000 && GetFileAttributesA(argv[2]) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(100);
    CloseHandle(held);
    return 0;
}
