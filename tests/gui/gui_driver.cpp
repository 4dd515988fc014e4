// Drives and inspects a running launcher from another process, for the
// end-to-end tests (tests/gui/gui-test). Prints facts as key=value lines in
// UTF-8; the script judges them. One program past the usual length: each
// verb is a few lines over the same window-finding helpers.
//
//   gui_driver start LAUNCHER TEMPDIR [SECONDS]
//                                       start LAUNCHER with TMP/TEMP = TEMPDIR,
//                                       wait for its window (20 s): pid=, hwnd=
//   gui_driver inspect HWND             window styles, client area, buttons, focus
//   gui_driver sysmenu HWND             the items of its system menu
//   gui_driver about HWND               choose the About entry; describe the box
//   gui_driver window HWND              is it there, enabled, and visible
//   gui_driver command HWND ID          send WM_COMMAND BN_CLICKED from ID
//   gui_driver minimise HWND            minimise it; client area and iconic state
//   gui_driver message HWND SECONDS     wait for a message box over the window;
//                                       its title, text and owner; then OK it
//   gui_driver responsive HWND SECONDS [UNTIL]
//                                       ask the window WM_NULL every 100 ms for
//                                       SECONDS, until it goes or the file UNTIL
//                                       exists: answered=, unanswered=, slowest_ms=
//   gui_driver version FILE             its version block through GetFileVersionInfo
//                                       and VerQueryValue: fixed=, then NAME=VALUE
//   gui_driver error-text CODE          the system's text for a Windows error code,
//                                       as a message box shows it
//   gui_driver wait PID SECONDS         wait for the process to end: exited=, code=
//   gui_driver kill PID                 end it
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

namespace {

std::string Utf8(const std::wstring& text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size - 1 : 0, '\0');
    if (size > 1)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], size, nullptr, nullptr);
    return out;
}


std::string WindowText(HWND window)
{
    wchar_t text[512] = {};
    GetWindowTextW(window, text, 512);
    return Utf8(text);
}

HWND ParseWindow(const char* text)
{
    return reinterpret_cast<HWND>(static_cast<UINT_PTR>(strtoull(text, nullptr, 0)));
}

struct Search {
    DWORD pid;
    HWND found;
    HWND excluded;
};

BOOL CALLBACK FindVisibleTopLevel(HWND window, LPARAM lParam)
{
    auto* search = reinterpret_cast<Search*>(lParam);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == search->pid && window != search->excluded && IsWindowVisible(window)) {
        wchar_t className[64] = {};
        GetClassNameW(window, className, 64);
        if (lstrcmpW(className, L"#32770") == 0) {
            search->found = window;
            return FALSE;
        }
    }
    return TRUE;
}

// A visible dialog of process pid other than excluded, waited for up to timeoutMs.
HWND WaitForDialog(DWORD pid, HWND excluded, DWORD timeoutMs)
{
    for (DWORD waited = 0; waited <= timeoutMs; waited += 100) {
        Search search{pid, nullptr, excluded};
        EnumWindows(FindVisibleTopLevel, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr)
            return search.found;
        Sleep(100);
    }
    return nullptr;
}

void PrintRect(const char* key, const RECT& r)
{
    printf("%s=%ld,%ld,%ld,%ld\n", key, r.left, r.top, r.right - r.left, r.bottom - r.top);
}

int Start(const char* launcher, const char* tempDir, DWORD timeoutMs)
{
    SetEnvironmentVariableA("TMP", tempDir);
    SetEnvironmentVariableA("TEMP", tempDir);
    std::string commandLine = std::string("\"") + launcher + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(launcher, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        printf("error=CreateProcess failed (%lu)\n", GetLastError());
        return 1;
    }
    printf("pid=%lu\n", process.dwProcessId);
    WaitForInputIdle(process.hProcess, timeoutMs / 2);
    HWND window = WaitForDialog(process.dwProcessId, nullptr, timeoutMs);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (window == nullptr) {
        printf("error=no launcher window\n");
        return 1;
    }
    printf("hwnd=0x%llx\n", static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(window)));
    return 0;
}

int Inspect(HWND window)
{
    if (!IsWindow(window)) {
        printf("error=no such window\n");
        return 1;
    }
    LONG style = GetWindowLongW(window, GWL_STYLE);
    LONG exStyle = GetWindowLongW(window, GWL_EXSTYLE);
    printf("style=0x%08lx\nexstyle=0x%08lx\n", static_cast<unsigned long>(style), static_cast<unsigned long>(exStyle));
    printf("caption=%d\nsysmenu_style=%d\n", (style & WS_CAPTION) == WS_CAPTION ? 1 : 0, (style & WS_SYSMENU) ? 1 : 0);
    printf("title=%s\n", WindowText(window).c_str());
    RECT client;
    GetClientRect(window, &client);
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    printf("client=%ld,%ld\n", client.right - client.left, client.bottom - client.top);
    printf("client_origin=%ld,%ld\n", origin.x, origin.y);
    printf("enabled=%d\nvisible=%d\n", IsWindowEnabled(window) ? 1 : 0, IsWindowVisible(window) ? 1 : 0);
    for (int id = 1000; id <= 1003; ++id) {
        HWND button = GetDlgItem(window, id);
        if (button == nullptr) {
            printf("button%d=missing\n", id);
            continue;
        }
        RECT r;
        GetWindowRect(button, &r);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
        char key[32];
        snprintf(key, sizeof key, "button%d_rect", id);
        PrintRect(key, r);
        LONG buttonStyle = GetWindowLongW(button, GWL_STYLE);
        printf("button%d_visible=%d\nbutton%d_enabled=%d\nbutton%d_style=0x%08lx\n", id,
               IsWindowVisible(button) ? 1 : 0, id, IsWindowEnabled(button) ? 1 : 0, id,
               static_cast<unsigned long>(buttonStyle));
    }
    // The child order: the template order.
    std::string order;
    for (HWND child = GetWindow(window, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT))
        order += (order.empty() ? "" : ",") + std::to_string(GetDlgCtrlID(child));
    printf("children=%s\n", order.c_str());
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    DWORD thread = GetWindowThreadProcessId(window, nullptr);
    if (GetGUIThreadInfo(thread, &info))
        printf("focus=%d\nactive_is_launcher=%d\n", info.hwndFocus ? GetDlgCtrlID(info.hwndFocus) : 0,
               info.hwndActive == window ? 1 : 0);
    else
        printf("focus=unknown\n");
    return 0;
}

// Another process cannot read a window's system menu, so a message hook loads
// sysmenu_probe.dll (beside this program) into the launcher to write it down.
int SysMenu(HWND window)
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dll = path;
    dll.erase(dll.find_last_of(L'\\') + 1);
    dll += L"sysmenu_probe.dll";
    HMODULE probe = LoadLibraryW(dll.c_str());
    auto hookProc = probe != nullptr ? reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(GetProcAddress(probe, "ProbeHook"))) : nullptr;
    if (hookProc == nullptr) {
        printf("error=cannot load sysmenu_probe.dll\n");
        return 1;
    }
    DWORD thread = GetWindowThreadProcessId(window, nullptr);
    HHOOK hook = SetWindowsHookExW(WH_GETMESSAGE, hookProc, probe, thread);
    if (hook == nullptr) {
        printf("error=SetWindowsHookEx failed (%lu)\n", GetLastError());
        return 1;
    }
    PostMessageW(window, RegisterWindowMessageW(L"Quorvane.SysMenuProbe"), 0, 0);
    Sleep(1500);
    UnhookWindowsHookEx(hook);
    printf("probed=1\n");
    return 0;
}

int About(HWND window)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    PostMessageW(window, WM_SYSCOMMAND, 0x0010, 0);
    HWND box = WaitForDialog(pid, window, 10000);
    if (box == nullptr) {
        printf("error=no About box\n");
        return 1;
    }
    printf("about_hwnd=0x%llx\n", static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(box)));
    printf("about_title=%s\n", WindowText(box).c_str());
    printf("about_owner_is_launcher=%d\n", GetWindow(box, GW_OWNER) == window ? 1 : 0);
    printf("launcher_enabled=%d\n", IsWindowEnabled(window) ? 1 : 0);
    LONG style = GetWindowLongW(box, GWL_STYLE);
    printf("about_caption=%d\n", (style & WS_CAPTION) == WS_CAPTION ? 1 : 0);
    int i = 0;
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT), ++i) {
        wchar_t className[64] = {};
        GetClassNameW(child, className, 64);
        printf("about_child%d=%d %s %s\n", i, GetDlgCtrlID(child), Utf8(className).c_str(), WindowText(child).c_str());
    }
    RECT r;
    HWND ok = GetDlgItem(box, IDOK);
    if (ok != nullptr) {
        GetWindowRect(ok, &r);
        printf("about_ok_center=%ld,%ld\n", (r.left + r.right) / 2, (r.top + r.bottom) / 2);
    }
    return 0;
}

int Version(const char* file)
{
    std::wstring path(file, file + strlen(file));
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    std::string info(size, '\0');
    if (size == 0 || !GetFileVersionInfoW(path.c_str(), 0, size, &info[0])) {
        printf("error=no version block (%lu)\n", GetLastError());
        return 1;
    }
    void* value = nullptr;
    UINT length = 0;
    if (VerQueryValueW(&info[0], L"\\", &value, &length) && length >= sizeof(VS_FIXEDFILEINFO)) {
        const VS_FIXEDFILEINFO* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
        printf("fixed=%u.%u.%u.%u\n", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
               HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
    }
    if (!VerQueryValueW(&info[0], L"\\VarFileInfo\\Translation", &value, &length) || length < 4) {
        printf("error=no translation\n");
        return 1;
    }
    const WORD* translation = static_cast<const WORD*>(value);
    wchar_t table[32];
    swprintf(table, 32, L"%04x%04x", translation[0], translation[1]);
    for (const wchar_t* name : {L"ProductName", L"FileDescription", L"CompanyName", L"LegalCopyright", L"FileVersion",
                                L"ProductVersion", L"InternalName", L"OriginalFilename"}) {
        std::wstring query = std::wstring(L"\\StringFileInfo\\") + table + L"\\" + name;
        if (VerQueryValueW(&info[0], query.c_str(), &value, &length))
            printf("%s=%s\n", Utf8(name).c_str(), Utf8(length ? static_cast<const wchar_t*>(value) : L"").c_str());
    }
    return 0;
}

// One line: the box's text may hold line breaks.
std::string OneLine(std::string text)
{
    std::string out;
    for (char c : text)
        if (c != '\r')
            out += c == '\n' ? ' ' : c;
    return out;
}

int Message(HWND window, int seconds)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    HWND box = WaitForDialog(pid, window, static_cast<DWORD>(seconds) * 1000);
    if (box == nullptr) {
        printf("error=no message box\n");
        return 1;
    }
    printf("box_title=%s\n", WindowText(box).c_str());
    printf("box_owner_is_launcher=%d\n", GetWindow(box, GW_OWNER) == window ? 1 : 0);
    // The message is the static with the longest text (the icon's has none).
    std::string text;
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t className[64] = {};
        GetClassNameW(child, className, 64);
        std::string childText = WindowText(child);
        if (lstrcmpiW(className, L"Static") == 0 && childText.size() > text.size())
            text = childText;
    }
    printf("box_text=%s\n", OneLine(text).c_str());
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    return 0;
}

int Responsive(HWND window, int seconds, const char* until)
{
    int answered = 0, unanswered = 0;
    DWORD slowest = 0;
    DWORD start = GetTickCount();
    while (IsWindow(window) && GetTickCount() - start < static_cast<DWORD>(seconds) * 1000 &&
           (until == nullptr || GetFileAttributesA(until) == INVALID_FILE_ATTRIBUTES)) {
        DWORD before = GetTickCount();
        DWORD_PTR result = 0;
        if (SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &result) != 0) {
            ++answered;
            if (GetTickCount() - before > slowest)
                slowest = GetTickCount() - before;
        } else if (IsWindow(window)) {
            ++unanswered;
            printf("unanswered_at_ms=%lu\n", before - start);
        }
        Sleep(100);
    }
    printf("answered=%d\nunanswered=%d\nslowest_ms=%lu\nended_ms=%lu\n", answered, unanswered, slowest,
           GetTickCount() - start);
    return 0;
}

int ErrorText(unsigned long code)
{
    wchar_t text[384] = {};
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, text,
                                  sizeof text / sizeof text[0], nullptr);
    while (length > 0 && (text[length - 1] == L'\r' || text[length - 1] == L'\n' || text[length - 1] == L' '))
        text[--length] = L'\0';
    printf("%s\n", OneLine(Utf8(text)).c_str());
    return length > 0 ? 0 : 1;
}

int Window(HWND window)
{
    printf("exists=%d\n", IsWindow(window) ? 1 : 0);
    printf("enabled=%d\nvisible=%d\n", IsWindowEnabled(window) ? 1 : 0, IsWindowVisible(window) ? 1 : 0);
    return 0;
}

int Minimise(HWND window)
{
    ShowWindowAsync(window, SW_MINIMIZE);
    for (int i = 0; i < 50 && !IsIconic(window); ++i)
        Sleep(100);
    Sleep(500);
    RECT client;
    GetClientRect(window, &client);
    printf("iconic=%d\nclient=%ld,%ld\n", IsIconic(window) ? 1 : 0, client.right, client.bottom);
    return 0;
}

int Wait(DWORD pid, int seconds)
{
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, pid);
    if (process == nullptr) {
        printf("exited=1\ncode=unknown\n");
        return 0;
    }
    DWORD result = WaitForSingleObject(process, static_cast<DWORD>(seconds) * 1000);
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    CloseHandle(process);
    printf("exited=%d\ncode=%lu\n", result == WAIT_OBJECT_0 ? 1 : 0, code);
    return 0;
}

int Kill(DWORD pid)
{
    HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, pid);
    if (process == nullptr)
        return 0;
    TerminateProcess(process, 99);
    CloseHandle(process);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    setvbuf(stdout, nullptr, _IONBF, 0);
    std::string verb = argc > 1 ? argv[1] : "";
    if (verb == "start" && (argc == 4 || argc == 5))
        return Start(argv[2], argv[3], argc > 4 ? static_cast<DWORD>(atoi(argv[4])) * 1000 : 20000);
    if (verb == "inspect" && argc == 3)
        return Inspect(ParseWindow(argv[2]));
    if (verb == "sysmenu" && argc == 3)
        return SysMenu(ParseWindow(argv[2]));
    if (verb == "about" && argc == 3)
        return About(ParseWindow(argv[2]));
    if (verb == "window" && argc == 3)
        return Window(ParseWindow(argv[2]));
    if (verb == "command" && argc == 4) {
        HWND window = ParseWindow(argv[2]);
        int id = atoi(argv[3]);
        PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(window, id)));
        return 0;
    }
    if (verb == "message" && argc == 4)
        return Message(ParseWindow(argv[2]), atoi(argv[3]));
    if (verb == "responsive" && (argc == 4 || argc == 5))
        return Responsive(ParseWindow(argv[2]), atoi(argv[3]), argc > 4 ? argv[4] : nullptr);
    if (verb == "minimise" && argc == 3)
        return Minimise(ParseWindow(argv[2]));
    if (verb == "version" && argc == 3)
        return Version(argv[2]);
    if (verb == "error-text" && argc == 3)
        return ErrorText(strtoul(argv[2], nullptr, 10));
    if (verb == "wait" && argc == 4)
        return Wait(strtoul(argv[2], nullptr, 10), atoi(argv[3]));
    if (verb == "kill" && argc == 3)
        return Kill(strtoul(argv[2], nullptr, 10));
    fprintf(stderr, "usage: see the top of gui_driver.cpp\n");
    return 2;
}
