#include "test_files.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "archive.h"
#include "byte_order.h"
#include "platform.h"

#ifdef _WIN32
#include <process.h>
#else
#include <dirent.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace testing_support {

std::string JoinPath(const std::string& folder, const std::string& name)
{
    if (!folder.empty() && (folder.back() == '/' || folder.back() == '\\'))
        return folder + name;
    return folder + PATH_SEPARATOR + name;
}

ScratchDir::ScratchDir()
{
    static unsigned counter = 0;
    char temp[STAGE_PATH_SIZE] = {};
    GetTempPathA(sizeof temp, temp);
#ifdef _WIN32
    unsigned pid = static_cast<unsigned>(GetCurrentProcessId());
#else
    unsigned pid = static_cast<unsigned>(getpid());
#endif
    for (;;) {
        char name[64];
        snprintf(name, sizeof name, "qv-test-%u-%u", pid, counter++);
        path_ = JoinPath(temp, name);
        if (_mkdir(path_.c_str()) == 0)
            break;
    }
}

ScratchDir::~ScratchDir()
{
    RemoveTree(path_);
}

std::string ScratchDir::operator/(const std::string& name) const
{
    return JoinPath(path_, name);
}

bool WriteFileBytes(const std::string& path, const Bytes& bytes)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (f == nullptr)
        return false;
    bool ok = bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return fclose(f) == 0 && ok;
}

bool WriteFileText(const std::string& path, const std::string& text)
{
    return WriteFileBytes(path, Bytes(text.begin(), text.end()));
}

bool ReadFileBytes(const std::string& path, Bytes* bytes)
{
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr)
        return false;
    bytes->clear();
    unsigned char chunk[65536];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, f)) > 0)
        bytes->insert(bytes->end(), chunk, chunk + got);
    fclose(f);
    return true;
}

std::string ReadFileText(const std::string& path)
{
    Bytes bytes;
    if (!ReadFileBytes(path, &bytes))
        return std::string();
    return std::string(bytes.begin(), bytes.end());
}

#ifdef _WIN32
bool PathExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsFolder(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::vector<std::string> ListFolder(const std::string& path)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(JoinPath(path, "*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (strcmp(data.cFileName, ".") != 0 && strcmp(data.cFileName, "..") != 0)
            names.push_back(data.cFileName);
    } while (FindNextFileA(find, &data));
    FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
}

void RemoveTree(const std::string& path)
{
    if (!IsFolder(path)) {
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(path.c_str());
        return;
    }
    for (const std::string& name : ListFolder(path))
        RemoveTree(JoinPath(path, name));
    RemoveDirectoryA(path.c_str());
}

std::string OwnExecutable()
{
    char path[1024] = {};
    GetModuleFileNameA(nullptr, path, sizeof path - 1);
    return path;
}
#else
bool PathExists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

bool IsFolder(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::vector<std::string> ListFolder(const std::string& path)
{
    std::vector<std::string> names;
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr)
        return names;
    while (dirent* e = readdir(dir))
        if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
            names.push_back(e->d_name);
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

void RemoveTree(const std::string& path)
{
    if (IsFolder(path)) {
        chmod(path.c_str(), 0700);
        for (const std::string& name : ListFolder(path))
            RemoveTree(JoinPath(path, name));
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

std::string OwnExecutable()
{
    char path[4096] = {};
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}
#endif

bool MakeFolder(const std::string& path)
{
    return _mkdir(path.c_str()) == 0;
}

std::string OwnFolder()
{
    std::string own = OwnExecutable();
    size_t cut = own.find_last_of("/\\");
    return cut == std::string::npos ? std::string(".") : own.substr(0, cut);
}

Bytes Pattern(size_t size, unsigned seed)
{
    Bytes bytes(size);
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        bytes[i] = static_cast<unsigned char>(x >> 16);
    }
    return bytes;
}

Bytes RawHeader(const std::string& nameField, uint32_t size)
{
    Bytes raw(ENTRY_HEADER_SIZE, 0);
    std::copy_n(nameField.begin(), std::min(nameField.size(), ENTRY_NAME_SIZE), raw.begin());
    WriteLE32(raw.data() + ENTRY_SIZE_FIELD, size);
    return raw;
}

Bytes MakeLauncherBytes(const Bytes& image, const std::vector<TestEntry>& entries, const Bytes& tail)
{
    Bytes out = image.empty() ? Bytes{'M', 'Z'} : image;
    out.resize(PAYLOAD_OFFSET, 0xCD);
    for (const TestEntry& entry : entries) {
        Bytes header = RawHeader(entry.name, static_cast<uint32_t>(entry.data.size()));
        out.insert(out.end(), header.begin(), header.end());
        out.insert(out.end(), entry.data.begin(), entry.data.end());
    }
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

Bytes MinimalPeImage(uint32_t imageEnd, uint32_t certOffset, uint32_t certSize)
{
    const uint32_t headers = 0x200;
    Bytes image(imageEnd > headers ? imageEnd : headers, 0);
    image[0] = 'M';
    image[1] = 'Z';
    WriteLE32(&image[0x3C], 0x80);
    unsigned char* pe = &image[0x80];
    memcpy(pe, "PE\0\0", 4);
    pe[4] = 0x4C;  // i386
    pe[5] = 0x01;
    pe[6] = 1;     // one section
    pe[20] = 0xE0; // optional header size
    pe[22] = 0x02; // executable image
    unsigned char* opt = pe + 24;
    opt[0] = 0x0B;  // PE32
    opt[1] = 0x01;
    WriteLE32(opt + 60, headers);     // size of headers
    WriteLE32(opt + 92, 16);          // data directories
    WriteLE32(opt + 96 + 4 * 8, certOffset);
    WriteLE32(opt + 96 + 4 * 8 + 4, certSize);
    unsigned char* section = opt + 0xE0;
    memcpy(section, ".text", 5);
    WriteLE32(section + 8, imageEnd - headers);   // virtual size
    WriteLE32(section + 12, 0x1000);              // virtual address
    WriteLE32(section + 16, imageEnd - headers);  // raw size
    WriteLE32(section + 20, headers);             // raw pointer
    for (uint32_t i = headers; i < imageEnd; ++i)
        image[i] = static_cast<unsigned char>(i * 7);
    return image;
}

#ifdef _WIN32
// Quotes one argument the way the runtime's command-line parser reads it back:
// backslashes are literal except before a quote, where they double.
static std::string Quote(const std::string& arg)
{
    std::string out = "\"";
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, '\\');
    return out + "\"";
}

int RunProgram(const std::string& program, const std::vector<std::string>& args,
               const std::vector<std::pair<std::string, std::string>>& env)
{
    std::string command = Quote(program);
    for (const std::string& arg : args)
        command += " " + Quote(arg);
    std::vector<std::pair<std::string, std::string>> saved;
    for (const auto& kv : env) {
        char old[32768];
        DWORD n = GetEnvironmentVariableA(kv.first.c_str(), old, sizeof old);
        saved.emplace_back(kv.first, n > 0 && n < sizeof old ? std::string(old) : std::string("\x01"));
        SetEnvironmentVariableA(kv.first.c_str(), kv.second.c_str());
    }
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    BOOL started = CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, FALSE, 0,
                                  nullptr, nullptr, &si, &pi);
    for (const auto& kv : saved)
        SetEnvironmentVariableA(kv.first.c_str(), kv.second == "\x01" ? nullptr : kv.second.c_str());
    if (!started)
        return -1;
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = static_cast<DWORD>(-1);
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return static_cast<int>(code);
}
#else
int RunProgram(const std::string& program, const std::vector<std::string>& args,
               const std::vector<std::pair<std::string, std::string>>& env)
{
    std::vector<std::string> envStrings;
    for (char** e = environ; *e != nullptr; ++e) {
        std::string entry = *e;
        bool overridden = false;
        for (const auto& kv : env)
            overridden |= entry.compare(0, kv.first.size() + 1, kv.first + "=") == 0;
        if (!overridden)
            envStrings.push_back(entry);
    }
    for (const auto& kv : env)
        envStrings.push_back(kv.first + "=" + kv.second);
    std::vector<char*> envp;
    for (std::string& s : envStrings)
        envp.push_back(&s[0]);
    envp.push_back(nullptr);
    std::vector<std::string> argStrings{program};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& s : argStrings)
        argv.push_back(&s[0]);
    argv.push_back(nullptr);
    pid_t pid;
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), envp.data()) != 0)
        return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
#endif

}  // namespace testing_support
