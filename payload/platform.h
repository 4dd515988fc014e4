// The few kernel and runtime calls the payload core needs. On Windows they are
// the real ones; elsewhere a thin stand-in with the same contract, so the core,
// its tests and the packer build and run natively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <direct.h>
#include <io.h>
#else
typedef unsigned long DWORD;
typedef void* HMODULE;

// $TMPDIR (or /tmp) with a trailing separator. Returns the length written, or
// the size needed (including the NUL) when the buffer is too small, or 0.
DWORD GetTempPathA(DWORD bufferLength, char* buffer);
// Full path of the running executable (/proc/self/exe). Like Windows, a path
// that does not fit is truncated to bufferSize characters without a NUL and
// the result is bufferSize.
DWORD GetModuleFileNameA(HMODULE module, char* buffer, DWORD bufferSize);
// One folder level; 0 on success, -1 otherwise (errno set).
int _mkdir(const char* path);
#endif

// The separator used to join a folder and a file name on this platform.
#ifdef _WIN32
const char PATH_SEPARATOR = '\\';
#else
const char PATH_SEPARATOR = '/';
#endif

// Large-file aware positioning on the runtime's FILE streams.
int SeekFile(FILE* file, uint64_t offset);
// The file's length, found by seeking to its end (the position is left there).
bool FileEnd(FILE* file, uint64_t* length);

// Starts the program at path (a full path) on its own and returns at once,
// without waiting: shown normally, with the quoted path as its whole command
// line, both handles closed. Natively the program gets its path as argv[0]
// and, since staged files carry no execute permission, is made executable
// first. Returns whether it started.
bool StartProgram(const char* path);

#ifndef _WIN32
// The Windows file system ignores letter case; this one does not. When the
// last component of path names no file as spelled, rewrites it in place to a
// file of its folder whose name matches ignoring ASCII case. Returns whether
// path now names an existing file.
bool MatchFileNameCase(char* path);
#endif
