#include "host_files.h"

#include <cerrno>
#include <cstring>

#include "windows_api.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

static bool IsSeparator(char c)
{
#ifdef _WIN32
    return c == '/' || c == '\\';
#else
    return c == '/';
#endif
}

std::string HostBaseName(const std::string& path)
{
    size_t end = path.size();
    while (end > 1 && IsSeparator(path[end - 1]))
        --end;
    size_t start = end;
    while (start > 0 && !IsSeparator(path[start - 1]))
        --start;
    return path.substr(start, end - start);
}

std::string HostFolderOf(const std::string& path)
{
    size_t cut = path.size();
    while (cut > 0 && !IsSeparator(path[cut - 1]))
        --cut;
    if (cut == 0)
        return ".";
    while (cut > 1 && IsSeparator(path[cut - 1]))
        --cut;
    return path.substr(0, cut);
}

std::string JoinHostPath(const std::string& folder, const std::string& name)
{
    if (folder.empty() || IsSeparator(folder.back()))
        return folder + name;
#ifdef _WIN32
    return folder + "\\" + name;
#else
    return folder + "/" + name;
#endif
}

#ifdef _WIN32

std::wstring WideFromUtf8(const std::string& text)
{
    if (text.empty())
        return std::wstring();
    int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], n);
    return wide;
}

std::string Utf8FromWide(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                nullptr, nullptr);
    std::string utf8(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &utf8[0], n, nullptr,
                        nullptr);
    return utf8;
}

HostPathKind StatHostPath(const std::string& path, uint64_t* size, HostFileId* id)
{
    // Opened, not merely looked up: the attribute calls describe a symbolic
    // link itself, an open handle the file it leads to. Backup semantics let
    // folders open too; asking only for attributes needs no read access.
    HANDLE handle = CreateFileW(WideFromUtf8(path).c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return HostPathKind::Missing;
    BY_HANDLE_FILE_INFORMATION info;
    bool known = GetFileInformationByHandle(handle, &info) != 0;
    bool disk = GetFileType(handle) == FILE_TYPE_DISK;
    DWORD error = GetLastError();
    CloseHandle(handle);
    if (!known) {
        SetLastError(error);
        return HostPathKind::Missing;
    }
    if (id != nullptr) {
        id->volume = info.dwVolumeSerialNumber;
        id->index = static_cast<uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
    }
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return HostPathKind::Folder;
    if (!disk || (info.dwFileAttributes & FILE_ATTRIBUTE_DEVICE))
        return HostPathKind::Other;
    if (size != nullptr)
        *size = static_cast<uint64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
    return HostPathKind::File;
}

std::string HostErrorText()
{
    DWORD error = GetLastError();
    wchar_t* text = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                 FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring wide = n > 0 && text != nullptr ? std::wstring(text, n) : std::wstring();
    LocalFree(text);
    while (!wide.empty() && (wide.back() == L'\n' || wide.back() == L'\r' || wide.back() == L' ' ||
                             wide.back() == L'.'))
        wide.pop_back();
    if (wide.empty())
        return "system error " + std::to_string(error);
    return Utf8FromWide(wide);
}

bool SyncHostFile(FILE* file)
{
    if (fflush(file) != 0)
        return false;
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    return handle != INVALID_HANDLE_VALUE && FlushFileBuffers(handle) != 0;
}

FILE* OpenHostFile(const std::string& path, const char* mode)
{
    return _wfopen(WideFromUtf8(path).c_str(), WideFromUtf8(mode).c_str());
}

bool ListHostFolder(const std::string& path, std::vector<std::string>* names)
{
    names->clear();
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(WideFromUtf8(JoinHostPath(path, "*")).c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
        if (wcscmp(data.cFileName, L".") != 0 && wcscmp(data.cFileName, L"..") != 0)
            names->push_back(Utf8FromWide(data.cFileName));
    } while (FindNextFileW(find, &data));
    bool complete = GetLastError() == ERROR_NO_MORE_FILES;
    FindClose(find);
    return complete;
}

bool RenameHostFile(const std::string& from, const std::string& to)
{
    return MoveFileExW(WideFromUtf8(from).c_str(), WideFromUtf8(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool RemoveHostFile(const std::string& path)
{
    return DeleteFileW(WideFromUtf8(path).c_str()) != 0;
}

bool MakeHostFolder(const std::string& path)
{
    return CreateDirectoryW(WideFromUtf8(path).c_str(), nullptr) != 0;
}

// Created exclusively and shareable for deletion, so nobody else's file is
// taken over and an interrupted build can still remove it.
static FILE* CreateNewFile(const std::string& path, bool)
{
    HANDLE handle = CreateFileW(WideFromUtf8(path).c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return nullptr;
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (fd == -1) {
        CloseHandle(handle);
        return nullptr;
    }
    FILE* file = _fdopen(fd, "wb");
    if (file == nullptr)
        _close(fd);
    return file;
}

static unsigned ProcessId()
{
    return static_cast<unsigned>(GetCurrentProcessId());
}

std::string HostProgramPath()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD n = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (n == 0)
            return std::string();
        if (n < path.size()) {
            path.resize(n);
            return Utf8FromWide(path);
        }
        if (path.size() >= 32768)
            return std::string();
        path.resize(path.size() * 2);  // cut short: a longer buffer
    }
}

#else

HostPathKind StatHostPath(const std::string& path, uint64_t* size, HostFileId* id)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return HostPathKind::Missing;
    if (id != nullptr) {
        id->volume = static_cast<uint64_t>(st.st_dev);
        id->index = static_cast<uint64_t>(st.st_ino);
    }
    if (S_ISDIR(st.st_mode))
        return HostPathKind::Folder;
    if (!S_ISREG(st.st_mode))
        return HostPathKind::Other;
    if (size != nullptr)
        *size = static_cast<uint64_t>(st.st_size);
    return HostPathKind::File;
}

std::string HostErrorText()
{
    return strerror(errno);
}

bool SyncHostFile(FILE* file)
{
    return fflush(file) == 0 && fsync(fileno(file)) == 0;
}

FILE* OpenHostFile(const std::string& path, const char* mode)
{
    return fopen(path.c_str(), mode);
}

bool ListHostFolder(const std::string& path, std::vector<std::string>* names)
{
    names->clear();
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr)
        return false;
    errno = 0;
    while (dirent* entry = readdir(dir)) {
        if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
            names->push_back(entry->d_name);
        errno = 0;
    }
    bool complete = errno == 0;
    closedir(dir);
    return complete;
}

bool RenameHostFile(const std::string& from, const std::string& to)
{
    return rename(from.c_str(), to.c_str()) == 0;
}

bool RemoveHostFile(const std::string& path)
{
    return unlink(path.c_str()) == 0;
}

bool MakeHostFolder(const std::string& path)
{
    return mkdir(path.c_str(), 0777) == 0;
}

// A program is made executable, like a linker's output; other files are not.
static FILE* CreateNewFile(const std::string& path, bool program)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, program ? 0777 : 0666);
    if (fd < 0)
        return nullptr;
    FILE* file = fdopen(fd, "wb");
    if (file == nullptr)
        close(fd);
    return file;
}

static unsigned ProcessId()
{
    return static_cast<unsigned>(getpid());
}

std::string HostProgramPath()
{
    char path[PATH_MAX + 1];
    ssize_t n = readlink("/proc/self/exe", path, PATH_MAX);
    return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

#endif

std::string CreateTempBeside(const std::string& target, FILE** file, std::string* reason, bool program)
{
    std::string folder = HostFolderOf(target);
    std::string base = HostBaseName(target);
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        char suffix[48];
        snprintf(suffix, sizeof suffix, ".tmp-%u-%u", ProcessId(), attempt);
        std::string path = JoinHostPath(folder, "." + base + suffix);
        *file = CreateNewFile(path, program);
        if (*file != nullptr)
            return path;
        *reason = HostErrorText();
        if (StatHostPath(path, nullptr) == HostPathKind::Missing)
            break;  // the folder is missing or not writable: more names will not help
    }
    *file = nullptr;
    return std::string();
}
