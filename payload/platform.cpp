#include "platform.h"

#ifndef _WIN32
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

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
#endif

int SeekFile(FILE* file, uint64_t offset)
{
#ifdef _WIN32
    return fseeko64(file, static_cast<off64_t>(offset), SEEK_SET);
#else
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET);
#endif
}
