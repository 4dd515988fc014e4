// The demo payload's setup program: shows what the launcher handed it, in a
// message box, and writes the same text to "demo-report.txt" beside itself.
// It stands for a product's real setup program (ZelkSetupGb.exe).
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

std::wstring Folder(const std::wstring& path)
{
    size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::string Utf8(const std::wstring& text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size - 1 : 0, '\0');
    if (size > 1)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], size, nullptr, nullptr);
    return out;
}

// currentpath.txt holds the launcher's folder in the ANSI code page, no line end.
std::wstring ReadHandOver(const std::wstring& path, bool* present)
{
    FILE* file = _wfopen(path.c_str(), L"rb");
    *present = file != nullptr;
    if (file == nullptr)
        return L"";
    std::string bytes;
    char chunk[512];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes.append(chunk, got);
    fclose(file);
    int size = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring text(size, L'\0');
    if (size > 0)
        MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0], size);
    return text;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring folder = Folder(self);

    std::wstring text;
    text += L"Command line: " + std::wstring(GetCommandLineW()) + L"\r\n";
    text += L"Started from: " + folder + L"\r\n";
    bool present = false;
    std::wstring handOver = ReadHandOver(folder + L"\\currentpath.txt", &present);
    text += present ? L"currentpath.txt: " + handOver + L"\r\n" : L"currentpath.txt: (none)\r\n";
    text += L"Staged files:\r\n";
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                continue;
            if (lstrcmpiW(found.cFileName, L"demo-report.txt") == 0 || lstrcmpiW(found.cFileName, L"demo-report.tmp") == 0)
                continue;
            unsigned long long size = (static_cast<unsigned long long>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
            text += L"  " + std::wstring(found.cFileName) + L" (" + std::to_wstring(size) + L" bytes)\r\n";
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }

    // Written under a temporary name and renamed, so a reader sees it whole.
    std::wstring report = folder + L"\\demo-report.txt";
    std::wstring partial = folder + L"\\demo-report.tmp";
    FILE* file = _wfopen(partial.c_str(), L"wb");
    if (file != nullptr) {
        std::string bytes = Utf8(text);
        fwrite(bytes.data(), 1, bytes.size(), file);
        fclose(file);
        MoveFileExW(partial.c_str(), report.c_str(), MOVEFILE_REPLACE_EXISTING);
    }
    MessageBoxW(nullptr, text.c_str(), L"Quorvane demo setup", MB_OK | MB_ICONINFORMATION);
    return 0;
}
