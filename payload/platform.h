// The few kernel and runtime calls the payload core needs. On Windows they are
// the real ones; elsewhere a thin stand-in with the same contract, so the core,
// its tests and the packer build and run natively.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "windows_api.h"

#ifdef _WIN32
#include <direct.h>
#include <io.h>
#else
#include <sys/types.h>
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

// Staging writes only into a folder it has checked and only into files it has
// just created there, so that nothing planted in that fixed, predictable place
// (a symbolic link, a hard link, a junction or mount point) can turn a staged
// write into a write elsewhere. Natively every name is looked up relative to
// the folder's descriptor; on Windows the folder is held open so that it
// cannot be renamed or removed, and each file opened in it must lie in it by
// its final path.
//
// A folder may also be locked, for one launcher at a time to stage into it:
// see LockStageFolder.
struct StageFolder {
#ifdef _WIN32
    HANDLE handle = INVALID_HANDLE_VALUE;
    char path[MAX_PATH] = {};            // as given: files are opened by path
    char finalPath[2 * MAX_PATH] = {};   // as the system resolves it
    DWORD error = 0;                     // why it could not be opened
    HANDLE lock = nullptr;               // the staging lock's mutex, owned while held
#else
    int fd = -1;                         // also carries the staging lock (flock)
    int error = 0;                       // why it could not be opened (errno)
#endif
    StageFolder() = default;
    StageFolder(const StageFolder&) = delete;
    StageFolder& operator=(const StageFolder&) = delete;
    ~StageFolder();
};

// One file being staged: finished by CloseStagedFile, or discarded by
// DiscardStagedFile; a file that simply goes out of scope is closed as it is.
struct StagedFile {
#ifdef _WIN32
    HANDLE handle = INVALID_HANDLE_VALUE;  // with DELETE access, to discard the file through it
#else
    int fd = -1;
    dev_t device = 0;  // the file's identity, to remove this very file and no other
    ino_t inode = 0;
#endif
    StagedFile() = default;
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;
    ~StagedFile();
};

// Opens path as the staging folder, creating it (one level) when missing.
// False when it is not a real folder: a link of any kind in its place
// (symbolic link, junction, mount point) is refused, never followed and never
// removed, as is a file. CreateStagedFile in a folder that is not open fails
// with the reason (errno, or the thread's last error on Windows).
bool OpenStageFolder(const char* path, StageFolder* folder);
// Takes the staging lock on an open folder, for one launcher (or extract) at
// a time to write into it: two at once would each leave, and start a setup
// program from, the other's files. Waits for one that holds it, calling
// waiting (if given) every 50 ms, so that a window keeps painting. The lock is
// held until the folder is closed, and dies with its process. On Windows it is
// a named mutex keyed by the folder's final path, natively an flock on the
// folder's descriptor. False when the folder is not open, or the system has
// no such lock for it (then staging goes on without one).
bool LockStageFolder(StageFolder* folder, void (*waiting)(void* context), void* context);
// Creates name in folder as a new, empty file for writing. Whatever had the
// name before (a file, a hard link, a symbolic link, dangling or not) is
// removed first and never opened for writing, so no file elsewhere changes.
// False, touching nothing, when a folder, device or FIFO has the name, when
// the name cannot be removed (read-only, in use; on Windows also what cannot
// be shown to lie in the folder by its final path, such as a Unix symbolic
// link seen through Wine), or when the folder is not open.
bool CreateStagedFile(StageFolder* folder, const char* name, StagedFile* file);
bool WriteStagedFile(StagedFile* file, const void* data, size_t size);
// Closes a file whose every byte is written. False when it could not be
// completed after all; it is then removed as DiscardStagedFile removes it.
bool CloseStagedFile(StageFolder* folder, const char* name, StagedFile* file);
// Removes a file that could not be written in full, so that no short file
// passes for whole, and closes it. The very file staging created goes, never
// another that has its name by then: on Windows it is deleted through its
// own handle; natively name is unlinked only while it is still that file.
void DiscardStagedFile(StageFolder* folder, const char* name, StagedFile* file);

#ifndef _WIN32
// The Windows file system ignores letter case; this one does not. When the
// last component of path names no file as spelled, rewrites it in place to a
// file of its folder whose name matches ignoring ASCII case. Returns whether
// path now names an existing file.
bool MatchFileNameCase(char* path);
#endif
