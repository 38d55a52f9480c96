#include <windows.h>

#include <cstdio>

#include "platform/user_session.h"

namespace zavr {

void HoldOwnConsoleWindow() {
    DWORD processes[2] = {};
    if (GetConsoleProcessList(processes, 2) != 1) return;  // no console, or a shell's
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (!GetConsoleMode(input, &mode) || !GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode)) return;
    std::fputs("\nPress Enter to close this window; it closes by itself in a minute.\n", stdout);
    std::fflush(stdout);
    FlushConsoleInputBuffer(input);
    const ULONGLONG end = GetTickCount64() + 60 * 1000;
    for (ULONGLONG now = GetTickCount64(); now < end; now = GetTickCount64()) {
        if (WaitForSingleObject(input, static_cast<DWORD>(end - now)) != WAIT_OBJECT_0) return;
        INPUT_RECORD record{};
        DWORD read = 0;
        if (!ReadConsoleInputA(input, &record, 1, &read) || read == 0) return;
        if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown &&
            record.Event.KeyEvent.wVirtualKeyCode == VK_RETURN)
            return;
    }
}

boost::system::error_code ReplaceableProblem(const std::string& path) {
    const HANDLE file =
        CreateFileA(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return boost::system::error_code(static_cast<int>(GetLastError()), boost::system::system_category());
    CloseHandle(file);
    return boost::system::error_code();
}

bool IsHeldByAnotherProgram(const boost::system::error_code& error) {
    return error.category() == boost::system::system_category() &&
           (error.value() == ERROR_SHARING_VIOLATION || error.value() == ERROR_LOCK_VIOLATION);
}

std::size_t LongestPath(bool folder) {
    // A folder's path leaves room for an 8.3 file name, as CreateDirectoryA demands.
    return folder ? MAX_PATH - 13 : MAX_PATH - 1;
}

}  // namespace zavr
