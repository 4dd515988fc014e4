// Loaded into the launcher by gui_driver's message hook: reads the launcher's
// system menu from inside its process (other processes cannot) and writes it
// to "sysmenu.txt" in the launcher's temporary folder, UTF-8, one item a line:
// "separator" or "<id in hex> <text>".
#include <windows.h>

#include <cstdio>
#include <string>

namespace {
std::string Utf8(const wchar_t* text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size - 1 : 0, '\0');
    if (size > 1)
        WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], size, nullptr, nullptr);
    return out;
}

void WriteSystemMenu(HWND window)
{
    wchar_t path[MAX_PATH + 16] = {};
    GetTempPathW(MAX_PATH, path);
    lstrcatW(path, L"sysmenu.txt");
    FILE* file = _wfopen(path, L"wb");
    if (file == nullptr)
        return;
    HMENU menu = GetSystemMenu(window, FALSE);
    int count = menu != nullptr ? GetMenuItemCount(menu) : -1;
    fprintf(file, "count=%d\n", count);
    for (int i = 0; i < count; ++i) {
        wchar_t text[256] = {};
        MENUITEMINFOW item = {};
        item.cbSize = sizeof item;
        item.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STRING;
        item.dwTypeData = text;
        item.cch = 256;
        GetMenuItemInfoW(menu, i, TRUE, &item);
        if (item.fType & MFT_SEPARATOR)
            fprintf(file, "item%d=separator\n", i);
        else
            fprintf(file, "item%d=0x%x %s\n", i, item.wID, Utf8(text).c_str());
    }
    fclose(file);
}
}  // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK ProbeHook(int code, WPARAM wParam, LPARAM lParam)
{
    static UINT probe = RegisterWindowMessageW(L"Quorvane.SysMenuProbe");
    if (code == HC_ACTION && wParam == PM_REMOVE) {
        MSG* msg = reinterpret_cast<MSG*>(lParam);
        if (msg->message == probe)
            WriteSystemMenu(msg->hwnd);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}
