#include "app.h"

#include <mbctype.h>

#include <cstdlib>
#include <cwchar>

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

CWinApp::CWinApp(LPCWSTR appName)
{
    g_app = this;
    if (appName != nullptr)
        lstrcpynW(m_appName, appName, MAX_PATH);
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
    if (app->m_appName[0] == L'\0') {
        wchar_t path[MAX_PATH] = {};
        ::GetModuleFileNameW(nullptr, path, MAX_PATH);
        const wchar_t* name = path;
        for (const wchar_t* p = path; *p != L'\0'; ++p)
            if (*p == L'\\' || *p == L'/')
                name = p + 1;
        lstrcpynW(app->m_appName, name, MAX_PATH);
        if (wchar_t* dot = wcsrchr(app->m_appName, L'.'))
            *dot = L'\0';
    }
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
