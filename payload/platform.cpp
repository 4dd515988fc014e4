#include "platform.h"

#include <cstring>

#ifndef _WIN32
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <spawn.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

extern char** environ;

DWORD GetTempPathA(DWORD bufferLength, char* buffer)
{
    const char* dir = getenv("TMPDIR");
    if (dir == nullptr || dir[0] == '\0')
        dir = "/tmp";
    size_t len = strlen(dir);
    bool needSeparator = dir[len - 1] != '/';
    size_t total = len + (needSeparator ? 1 : 0);
    if (total + 1 > bufferLength)
        return static_cast<DWORD>(total + 1);
    memcpy(buffer, dir, len);
    if (needSeparator)
        buffer[len] = '/';
    buffer[total] = '\0';
    return static_cast<DWORD>(total);
}

DWORD GetModuleFileNameA(HMODULE, char* buffer, DWORD bufferSize)
{
    if (bufferSize == 0)
        return 0;
    char path[4096];
    ssize_t len = readlink("/proc/self/exe", path, sizeof path);
    if (len <= 0 || static_cast<size_t>(len) >= sizeof path)
        return 0;
    if (static_cast<DWORD>(len) >= bufferSize) {
        memcpy(buffer, path, bufferSize);
        return bufferSize;
    }
    memcpy(buffer, path, static_cast<size_t>(len));
    buffer[len] = '\0';
    return static_cast<DWORD>(len);
}

int _mkdir(const char* path)
{
    return mkdir(path, 0777);
}

bool MatchFileNameCase(char* path)
{
    struct stat st;
    if (stat(path, &st) == 0)
        return true;
    char* slash = strrchr(path, '/');
    if (slash == nullptr || slash[1] == '\0')
        return false;
    *slash = '\0';
    DIR* dir = opendir(slash == path ? "/" : path);
    *slash = '/';
    if (dir == nullptr)
        return false;
    bool found = false;
    while (dirent* entry = readdir(dir)) {
        // Equal ignoring ASCII case means equal length: the rewrite fits.
        if (strcasecmp(entry->d_name, slash + 1) == 0) {
            memcpy(slash + 1, entry->d_name, strlen(entry->d_name));
            found = true;
            break;
        }
    }
    closedir(dir);
    return found;
}

bool StartProgram(const char* path)
{
    struct stat st;
    if (stat(path, &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    mode_t readable = st.st_mode & (S_IRUSR | S_IRGRP | S_IROTH);
    chmod(path, st.st_mode | (readable >> 2));  // execute wherever it may be read
    char* argv[] = {const_cast<char*>(path), nullptr};
    pid_t pid;
    return posix_spawn(&pid, path, nullptr, nullptr, argv, environ) == 0;
}
#else
bool StartProgram(const char* path)
{
    // The application is named, so nothing is searched for: a path with
    // spaces cannot be taken for a shorter program plus arguments.
    char commandLine[2 + MAX_PATH + 1];
    memset(commandLine, 0, sizeof commandLine);
    if (snprintf(commandLine, sizeof commandLine, "\"%s\"", path) >= static_cast<int>(sizeof commandLine))
        return false;
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION process;
    memset(&process, 0, sizeof process);
    if (!CreateProcessA(path, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}
#endif

int SeekFile(FILE* file, uint64_t offset)
{
#ifdef _WIN32
    return fseeko64(file, static_cast<off64_t>(offset), SEEK_SET);
#else
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET);
#endif
}

bool FileEnd(FILE* file, uint64_t* length)
{
#ifdef _WIN32
    if (fseeko64(file, 0, SEEK_END) != 0)
        return false;
    off64_t at = ftello64(file);
#else
    if (fseeko(file, 0, SEEK_END) != 0)
        return false;
    off_t at = ftello(file);
#endif
    if (at < 0)
        return false;
    *length = static_cast<uint64_t>(at);
    return true;
}
