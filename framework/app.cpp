#include "app.h"

#include <mbctype.h>

#include <cstdlib>

namespace {
CWinApp* g_app = nullptr;

// Without this, a DLL the launcher loads (directly or through a system DLL)
// could come from the launcher's own folder, often a downloads folder.
// Systems older than the function keep their default search order.
void RestrictDllSearchToSystem32()
{
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    if (kernel == nullptr)
        return;
    auto setDirectories = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (setDirectories != nullptr)
        setDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}
}  // namespace

CWinApp::CWinApp()
{
    g_app = this;
}

CWinApp::~CWinApp()
{
    if (g_app == this)
        g_app = nullptr;
}

BOOL CWinApp::InitInstance()
{
    return TRUE;
}

int CWinApp::ExitInstance()
{
    return 0;
}

void CWinApp::OnHelp() {}

CWinApp* AfxGetApp()
{
    return g_app;
}

HINSTANCE AfxGetResourceHandle()
{
    return ::GetModuleHandleW(nullptr);
}

int AfxWinMain()
{
    RestrictDllSearchToSystem32();
    _setmbcp(_MB_CP_ANSI);  // multibyte string functions follow the ANSI code page
    CWinApp* app = AfxGetApp();
    if (app == nullptr)
        return 1;
    app->InitInstance();
    return app->ExitInstance();
}

// The platform's process entry for a GUI program.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    return AfxWinMain();
}

// An exception nobody catches (only out-of-memory can reach here) ends the
// process at once. The library's default handler would print a demangled
// message that a GUI program has nowhere to show, and costs 40 KB of code.
namespace __gnu_cxx {
void __verbose_terminate_handler()
{
    std::abort();
}
}  // namespace __gnu_cxx
