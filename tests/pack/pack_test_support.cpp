#include "pack_test_support.h"

#include <cstdio>
#include <cstring>

#include "archive.h"
#include "host_files.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace pack_testing {

using namespace testing_support;

#ifdef _WIN32

static std::wstring Quote(const std::wstring& arg)
{
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, L'\\');
    return out + L"\"";
}

static HANDLE Inheritable(const std::wstring& path)
{
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    return CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

Captured RunCaptured(const std::string& program, const std::vector<std::string>& args)
{
    Captured captured;
    ScratchDir dir;
    std::string outPath = dir / "stdout", errPath = dir / "stderr";
    std::wstring command = Quote(WideFromUtf8(program));
    for (const std::string& arg : args)
        command += L" " + Quote(WideFromUtf8(arg));
    HANDLE out = Inheritable(WideFromUtf8(outPath));
    HANDLE err = Inheritable(WideFromUtf8(errPath));
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = out;
    si.hStdError = err;
    PROCESS_INFORMATION pi = {};
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(L'\0');
    BOOL started = CreateProcessW(WideFromUtf8(program).c_str(), line.data(), nullptr, nullptr, TRUE, 0,
                                  nullptr, nullptr, &si, &pi);
    CloseHandle(out);
    CloseHandle(err);
    if (started) {
        WaitForSingleObject(pi.hProcess, INFINITE);
        DWORD code = static_cast<DWORD>(-1);
        GetExitCodeProcess(pi.hProcess, &code);
        captured.status = static_cast<int>(code);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    captured.out = ReadFileText(outPath);
    captured.err = ReadFileText(errPath);
    return captured;
}

bool MakeSizedFile(const std::string& path, uint64_t size)
{
    HANDLE file = CreateFileW(WideFromUtf8(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(size);
    bool ok = SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && SetEndOfFile(file);
    CloseHandle(file);
    return ok;
}

bool ShiftModificationTime(const std::string& path, int seconds)
{
    HANDLE file = CreateFileW(WideFromUtf8(path).c_str(), FILE_WRITE_ATTRIBUTES | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    FILETIME written;
    bool ok = GetFileTime(file, nullptr, nullptr, &written);
    ULARGE_INTEGER t;
    t.LowPart = written.dwLowDateTime;
    t.HighPart = written.dwHighDateTime;
    t.QuadPart += static_cast<ULONGLONG>(static_cast<LONGLONG>(seconds) * 10000000LL);
    written.dwLowDateTime = t.LowPart;
    written.dwHighDateTime = t.HighPart;
    ok = ok && SetFileTime(file, nullptr, nullptr, &written);
    CloseHandle(file);
    return ok;
}

#else

Captured RunCaptured(const std::string& program, const std::vector<std::string>& args)
{
    Captured captured;
    ScratchDir dir;
    std::string outPath = dir / "stdout", errPath = dir / "stderr";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> strings{program};
    strings.insert(strings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& s : strings)
        argv.push_back(&s[0]);
    argv.push_back(nullptr);
    pid_t pid;
    int status = 0;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) == 0 &&
        waitpid(pid, &status, 0) == pid)
        captured.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    posix_spawn_file_actions_destroy(&actions);
    captured.out = ReadFileText(outPath);
    captured.err = ReadFileText(errPath);
    return captured;
}

bool MakeSizedFile(const std::string& path, uint64_t size)
{
    FILE* file = fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    bool ok = ftruncate(fileno(file), static_cast<off_t>(size)) == 0;
    return fclose(file) == 0 && ok;
}

bool ShiftModificationTime(const std::string& path, int seconds)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0)
        return false;
    struct timeval times[2];
    times[0].tv_sec = st.st_atime;
    times[0].tv_usec = 0;
    times[1].tv_sec = st.st_mtime + seconds;
    times[1].tv_usec = 0;
    return utimes(path.c_str(), times) == 0;
}

#endif

namespace {

void Align4(Bytes* b)
{
    while (b->size() % 4 != 0)
        b->push_back(0);
}

// One version block node: length, value length, type, key, value, children.
Bytes VersionNode(const std::string& key, bool text, const Bytes& value, uint16_t valueLength,
                  const std::vector<Bytes>& children)
{
    Bytes node(6, 0);
    node[4] = text ? 1 : 0;
    node[2] = static_cast<unsigned char>(valueLength);
    node[3] = static_cast<unsigned char>(valueLength >> 8);
    for (char c : key) {
        node.push_back(static_cast<unsigned char>(c));
        node.push_back(0);
    }
    node.insert(node.end(), {0, 0});
    Align4(&node);
    node.insert(node.end(), value.begin(), value.end());
    for (const Bytes& child : children) {
        Align4(&node);
        node.insert(node.end(), child.begin(), child.end());
    }
    node[0] = static_cast<unsigned char>(node.size());
    node[1] = static_cast<unsigned char>(node.size() >> 8);
    return node;
}

Bytes Utf16z(const std::string& ascii)
{
    Bytes out;
    for (char c : ascii)
        out.insert(out.end(), {static_cast<unsigned char>(c), 0});
    out.insert(out.end(), {0, 0});
    return out;
}

}  // namespace

Bytes VersionedPeImage(const std::string& internalName, const std::string& payloadFormats)
{
    Bytes fixed(52, 0);
    WriteLE32(&fixed[0], 0xFEEF04BD);
    auto string = [](const std::string& key, const std::string& value) {
        return VersionNode(key, true, Utf16z(value), static_cast<uint16_t>(value.size() + 1), {});
    };
    std::vector<Bytes> strings = {string("FileVersion", "1, 0, 0, 1"), string("InternalName", internalName),
                                  string("OriginalFilename", "Quorvane.EXE")};
    if (!payloadFormats.empty())
        strings.push_back(string("PayloadFormats", payloadFormats));
    Bytes table = VersionNode("080404b0", true, {}, 0, strings);
    Bytes info = VersionNode("VS_VERSION_INFO", false, fixed, 52,
                             {VersionNode("StringFileInfo", true, {}, 0, {table})});

    // Type 16 -> name 1 -> language 0x804 -> data, at the section's start (RVA 0x1000).
    const uint32_t sectionRva = 0x1000, dataAt = 0x58;
    Bytes rsrc(dataAt, 0);
    const uint32_t levels[][2] = {{16, 0x80000018}, {1, 0x80000030}, {0x804, 0x48}};
    for (int i = 0; i < 3; ++i) {
        rsrc[i * 0x18 + 14] = 1;  // one entry with an id
        WriteLE32(&rsrc[i * 0x18 + 16], levels[i][0]);
        WriteLE32(&rsrc[i * 0x18 + 20], levels[i][1]);
    }
    WriteLE32(&rsrc[0x48], sectionRva + dataAt);
    WriteLE32(&rsrc[0x4C], static_cast<uint32_t>(info.size()));
    rsrc.insert(rsrc.end(), info.begin(), info.end());

    Bytes image = MinimalPeImage(0x1000);
    memcpy(&image[0x200], rsrc.data(), rsrc.size());
    unsigned char* resourceDirectory = &image[0x80 + 24 + 96 + 2 * 8];
    WriteLE32(resourceDirectory, sectionRva);
    WriteLE32(resourceDirectory + 4, static_cast<uint32_t>(rsrc.size()));
    return image;
}

}  // namespace pack_testing
