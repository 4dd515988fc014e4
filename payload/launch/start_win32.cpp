// Starting a setup program on Windows. It is created directly, by its full
// path, as any program is. A program that needs administrator rights (its
// manifest asks for them, or Windows takes it for an installer by its name)
// cannot be created so under User Account Control: CreateProcess answers
// ERROR_ELEVATION_REQUIRED, and only the shell's start goes through the
// consent prompt. The shell is loaded for that case only, from the system
// folder, so the launcher imports nothing more for it.
#include "start.h"

#include <cstdlib>
#include <cstring>

#include <objbase.h>
#include <shellapi.h>

#include "join_text.h"

namespace {

#ifdef QUORVANE_TEST_START_SEAM
// Test builds only: QUORVANE_TEST_START_ERRORS lists, comma-separated, what
// each start attempt in turn (a direct creation, or the shell's start) does:
// a Windows error code it fails with, without being made, or 0 for a real
// attempt. Attempts past the list are real. This is how the tests give the
// launcher the answers of a Windows that Wine is not: a consent prompt
// declined, a file a scanner holds, a program that needs elevation.
bool InjectedFailure(DWORD* error)
{
    static unsigned attempt = 0;
    char list[256] = {};
    DWORD length = GetEnvironmentVariableA("QUORVANE_TEST_START_ERRORS", list, sizeof list);
    if (length == 0 || length >= sizeof list)
        return false;
    const char* at = list;
    for (unsigned i = 0; i < attempt; ++i) {
        at = strchr(at, ',');
        if (at == nullptr)
            return false;
        ++at;
    }
    ++attempt;
    *error = strtoul(at, nullptr, 10);
    return *error != 0;
}
#else
bool InjectedFailure(DWORD*)
{
    return false;
}
#endif

// 0 when the program started; otherwise the system's error code.
DWORD CreateDirectly(const char* path)
{
    DWORD injected;
    if (InjectedFailure(&injected))
        return injected;
    // The application is named, so nothing is searched for: a path with
    // spaces cannot be taken for a shorter program plus arguments.
    char commandLine[2 + MAX_PATH + 1];
    memset(commandLine, 0, sizeof commandLine);
    if (!JoinText(commandLine, sizeof commandLine, {"\"", path, "\""}))
        return ERROR_FILENAME_EXCED_RANGE;
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION process;
    memset(&process, 0, sizeof process);
    if (!CreateProcessA(path, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return GetLastError();
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 0;
}

// A DLL of the system's own, by its full path in the system folder: never
// one found in the launcher's folder or the current one.
HMODULE LoadSystemLibrary(const char* name)
{
    char path[MAX_PATH];
    UINT length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return nullptr;
    if (!JoinText(path + length, MAX_PATH - length, {"\\", name}))
        return nullptr;
    return LoadLibraryA(path);
}

template <typename Function>
Function Find(HMODULE module, const char* name)
{
    return module == nullptr ? nullptr
                             : reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// The error a failed shell start stands for when the shell set no last
// error: its older SE_ERR_ codes.
DWORD ShellErrorCode(HINSTANCE instApp)
{
    switch (reinterpret_cast<INT_PTR>(instApp)) {
    case SE_ERR_FNF:
        return ERROR_FILE_NOT_FOUND;
    case SE_ERR_PNF:
        return ERROR_PATH_NOT_FOUND;
    case SE_ERR_ACCESSDENIED:
        return ERROR_ACCESS_DENIED;
    case SE_ERR_OOM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case SE_ERR_SHARE:
        return ERROR_SHARING_VIOLATION;
    default:
        return ERROR_GEN_FAILURE;
    }
}

// Starts the program through the shell with its default verb, as Explorer
// would on a double-click: a program that needs administrator rights gets
// the consent prompt, owned by the launcher's window so that it comes to the
// front. The shell says nothing itself (the launcher's box speaks) and has
// finished starting when this returns, since the launcher ends right after.
// The working folder is the launcher's, as for a direct creation.
DWORD StartThroughShell(const char* path, HWND owner)
{
    DWORD injected;
    if (InjectedFailure(&injected))
        return injected;
    using ShellExecuteExFn = BOOL(WINAPI*)(SHELLEXECUTEINFOA*);
    using CoInitializeExFn = HRESULT(WINAPI*)(void*, DWORD);
    using CoUninitializeFn = void(WINAPI*)();
    // Neither library is freed: a shell extension may still be running code
    // of them, and the launcher ends soon.
    HMODULE shell = LoadSystemLibrary("shell32.dll");
    HMODULE ole = LoadSystemLibrary("ole32.dll");
    auto execute = Find<ShellExecuteExFn>(shell, "ShellExecuteExA");
    auto initialise = Find<CoInitializeExFn>(ole, "CoInitializeEx");
    auto uninitialise = Find<CoUninitializeFn>(ole, "CoUninitialize");
    if (execute == nullptr)
        return ERROR_PROC_NOT_FOUND;

    // The shell may hand the start to extensions that are COM objects.
    HRESULT com = initialise != nullptr ? initialise(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)
                                        : E_FAIL;
    SHELLEXECUTEINFOA info;
    memset(&info, 0, sizeof info);
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    info.hwnd = owner;
    info.lpVerb = nullptr;  // the default verb
    info.lpFile = path;
    info.lpParameters = nullptr;
    info.lpDirectory = nullptr;  // the current folder, as CreateProcess gives
    info.nShow = SW_SHOWNORMAL;
    DWORD error = 0;
    if (!execute(&info)) {
        error = GetLastError();
        if (error == 0)
            error = ShellErrorCode(info.hInstApp);
    }
    if (SUCCEEDED(com) && uninitialise != nullptr)
        uninitialise();
    return error;
}

bool HeldByAnotherProgram(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

// A quarter of a second before the next try, with the caller's window kept painting.
void WaitBeforeRetry(const StartOptions& options)
{
    const DWORD STEP_MS = 50;
    for (int i = 0; i < 5; ++i) {
        Sleep(STEP_MS);
        if (options.waiting != nullptr)
            options.waiting(options.context);
    }
}

}  // namespace

StartResult StartProgram(const char* path, const StartOptions& options)
{
    StartResult result;
    DWORD begun = GetTickCount();
    for (;;) {
        bool throughShell = false;
        DWORD error = CreateDirectly(path);
        if (error == ERROR_ELEVATION_REQUIRED) {
            throughShell = true;
            error = StartThroughShell(path, static_cast<HWND>(options.ownerWindow));
        }
        if (error == 0) {
            result.started = true;
            return result;
        }
        result.error = error;
        if (throughShell && error == ERROR_CANCELLED) {
            result.declined = true;
            return result;
        }
        if (!HeldByAnotherProgram(error) || GetTickCount() - begun >= START_RETRY_MS)
            return result;
        WaitBeforeRetry(options);
    }
}
