// Starting the edition's setup program: only the launcher does it.
#pragma once

#include "platform.h"

#ifdef _WIN32
// Windows error codes that starting a program can meet and mingw-w64's
// headers leave out.
#ifndef ERROR_ELEVATION_REQUIRED
#define ERROR_ELEVATION_REQUIRED 740L
#endif
#ifndef ERROR_ACCESS_DISABLED_NO_SAFER_UI_BY_POLICY
#define ERROR_ACCESS_DISABLED_NO_SAFER_UI_BY_POLICY 786L
#endif
#ifndef ERROR_VIRUS_INFECTED
#define ERROR_VIRUS_INFECTED 225L
#endif
#ifndef ERROR_VIRUS_DELETED
#define ERROR_VIRUS_DELETED 226L
#endif
#ifndef ERROR_SYSTEM_INTEGRITY_POLICY_VIOLATION
#define ERROR_SYSTEM_INTEGRITY_POLICY_VIOLATION 4551L
#endif
#endif

// What starting a program may use of its caller.
struct StartOptions {
    // The window that owns a consent prompt, so that it comes to the front
    // (an HWND on Windows); may be null.
    void* ownerWindow = nullptr;
    // Called now and then while a start waits to be tried again, so that the
    // caller's window keeps painting.
    void (*waiting)(void* context) = nullptr;
    void* context = nullptr;
};

// How a start ended.
struct StartResult {
    bool started = false;
    bool declined = false;     // the user said no at the consent prompt: nothing went wrong
    unsigned long error = 0;   // otherwise why it did not start: GetLastError on Windows, errno elsewhere
};

// Starts the program at path (a full path) on its own and returns without
// waiting for it: shown normally, from the caller's working folder, with the
// quoted path as its whole command line, both handles closed.
//
// On Windows it is created directly, by its full path (nothing is searched
// for). A program that needs administrator rights cannot be created so
// (ERROR_ELEVATION_REQUIRED): it is then started through the shell, which
// asks the user's consent, synchronously since the caller ends right after.
// A file still held by another program (a scanner looking at a file just
// written: a sharing or lock violation) is tried again for up to
// START_RETRY_MS.
//
// Natively the program gets its path as argv[0] and, since staged files carry
// no execute permission, is made executable first.
StartResult StartProgram(const char* path, const StartOptions& options = StartOptions());

// How long a start held up by another program's hold on the file is tried again.
const unsigned START_RETRY_MS = 3000;
