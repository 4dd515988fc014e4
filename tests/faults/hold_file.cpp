// Holds a file open. Usage: hold_file PATH READY RELEASE [shared]
// Without "shared", for writing with no sharing at all, as a running program
// holds its own files; with it, for reading and letting others read, write
// and delete, as a program being started from the file or a scanner does.
// Opens (or creates) PATH, then creates READY; closes PATH and ends once
// RELEASE exists. Exit code 0, or 1 when PATH could not be opened.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

int main(int argc, char** argv)
{
    bool shared = argc == 5 && lstrcmpA(argv[4], "shared") == 0;
    if (argc != 4 && !shared)
        return 2;
    HANDLE held = shared ? CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)
                         : CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held == INVALID_HANDLE_VALUE)
        return 1;
    HANDLE ready = CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (ready != INVALID_HANDLE_VALUE)
        CloseHandle(ready);
    for (int waited = 0; waited < 600; ++waited) {  // at most a minute
        if (GetFileAttributesA(argv[3]) != INVALID_FILE_ATTRIBUTES)
            break;
        Sleep(100);
    }
    CloseHandle(held);
    return 0;
}
