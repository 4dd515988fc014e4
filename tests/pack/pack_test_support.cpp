#include "pack_test_support.h"

#include <cstdio>

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

}  // namespace pack_testing
