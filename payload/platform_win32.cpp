// The platform layer on Windows: staging's folder and files through handles,
// checked by their final paths. Starting a program is in start_win32.cpp.
#include "platform.h"

#include <cstring>

#include "join_text.h"

StageFolder::~StageFolder()
{
    if (lock != nullptr) {
        ReleaseMutex(lock);
        CloseHandle(lock);
    }
    if (handle != INVALID_HANDLE_VALUE)
        CloseHandle(handle);
}

StagedFile::~StagedFile()
{
    if (handle != INVALID_HANDLE_VALUE)
        CloseHandle(handle);
}

namespace {

const DWORD NOT_FOUND = INVALID_FILE_ATTRIBUTES;

// The attributes of the object a handle refers to, or NOT_FOUND.
DWORD HandleAttributes(HANDLE handle)
{
    BY_HANDLE_FILE_INFORMATION info;
    return GetFileInformationByHandle(handle, &info) ? info.dwFileAttributes : NOT_FOUND;
}

bool FinalPath(HANDLE handle, char* out, DWORD size)
{
    DWORD len = GetFinalPathNameByHandleA(handle, out, size, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    return len > 0 && len < size;
}

// Opens the object at path itself, not what a reparse point there leads to.
HANDLE OpenItself(const char* path, DWORD access, DWORD share)
{
    return CreateFileA(path, access, share, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// Marks what the handle refers to for deletion when it is closed: the very
// object that was checked, whatever has its name by then.
bool DeleteOnClose(HANDLE handle)
{
    FILE_DISPOSITION_INFO disposition;
    disposition.DeleteFile = TRUE;
    return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition) != FALSE;
}

// Whether the handle's object is name inside the folder, by final paths, so
// that a link the system followed all the same, or a folder swapped under
// the path, is caught.
bool LiesIn(const StageFolder& folder, HANDLE handle, const char* name)
{
    char expected[2 * MAX_PATH];
    size_t len = strlen(folder.finalPath);
    const char* separator = len > 0 && folder.finalPath[len - 1] == '\\' ? "" : "\\";
    char actual[2 * MAX_PATH];
    return JoinText(expected, sizeof expected, {folder.finalPath, separator, name}) &&
           FinalPath(handle, actual, sizeof actual) && lstrcmpiA(expected, actual) == 0;
}

bool JoinStagePath(const StageFolder& folder, const char* name, char* out)
{
    return JoinText(out, MAX_PATH, {folder.path, "\\", name});
}

// Removes whatever has name in the folder, unless it is a folder (a link to
// one, such as a junction, goes itself) or cannot be shown to lie in it. The
// object removed is the one checked, through its handle. Nothing at the name
// is fine.
//
// The name is opened without sharing, so that a file someone else has open
// (a setup program being started from it, say) is refused here: marked for
// deletion it would keep its name until that handle closes, so that creating
// the file anew fails, and then vanish.
bool RemoveName(const StageFolder& folder, const char* path, const char* name)
{
    HANDLE existing = OpenItself(path, DELETE | FILE_READ_ATTRIBUTES, 0);
    if (existing == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    DWORD attributes = HandleAttributes(existing);
    DWORD refusal = 0;
    if (attributes == NOT_FOUND || (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
                                       FILE_ATTRIBUTE_DIRECTORY)
        refusal = ERROR_ACCESS_DENIED;  // a folder, or what Wine shows of a FIFO or device
    else if (!LiesIn(folder, existing, name))
        refusal = ERROR_CANT_ACCESS_FILE;  // reached through a link all the same
    bool removed = refusal == 0 && DeleteOnClose(existing);
    CloseHandle(existing);
    if (refusal != 0)
        SetLastError(refusal);
    return removed;
}

bool IsLink(DWORD attributes)
{
    return attributes != NOT_FOUND && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

}  // namespace

bool OpenStageFolder(const char* path, StageFolder* folder)
{
    if (folder->handle != INVALID_HANDLE_VALUE)
        CloseHandle(folder->handle);
    folder->handle = INVALID_HANDLE_VALUE;
    size_t len = strlen(path);
    if (len >= sizeof folder->path) {
        folder->error = ERROR_FILENAME_EXCED_RANGE;
        return false;
    }
    memcpy(folder->path, path, len + 1);
    CreateDirectoryA(path, nullptr);  // usually exists already
    // Reading its listing makes the share mode count: without delete sharing,
    // nobody can rename or remove the folder while it is open.
    HANDLE handle = OpenItself(path, FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE);
    if (handle == INVALID_HANDLE_VALUE) {
        folder->error = GetLastError();
        return false;
    }
    DWORD attributes = HandleAttributes(handle);
    // Wine opens the target of a Unix symbolic link whatever the flags say;
    // the name's own attributes still show the link.
    if (IsLink(attributes) || IsLink(GetFileAttributesA(path)))
        folder->error = ERROR_CANT_ACCESS_FILE;
    else if (attributes == NOT_FOUND || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        folder->error = ERROR_DIRECTORY;
    else if (!FinalPath(handle, folder->finalPath, sizeof folder->finalPath))
        folder->error = GetLastError();
    else {
        folder->handle = handle;
        return true;
    }
    CloseHandle(handle);
    return false;
}

bool LockStageFolder(StageFolder* folder, void (*waiting)(void* context), void* context)
{
    if (folder->handle == INVALID_HANDLE_VALUE)
        return false;
    if (folder->lock != nullptr)
        return true;
    // One name for one folder however it was reached: its final path, upper
    // case as the file system compares names, hashed (FNV-1a) since a kernel
    // object's name holds no backslash. Local: the user's own session.
    char key[sizeof folder->finalPath];
    lstrcpynA(key, folder->finalPath, sizeof key);
    CharUpperA(key);
    uint64_t hash = 14695981039346656037ull;
    for (const char* c = key; *c != '\0'; ++c)
        hash = (hash ^ static_cast<unsigned char>(*c)) * 1099511628211ull;
    char digits[HEX64_SIZE];
    WriteHex64(hash, digits);
    char name[64];
    JoinText(name, sizeof name, {"Local\\QuorvaneStaging-", digits});
    HANDLE mutex = CreateMutexA(nullptr, FALSE, name);
    if (mutex == nullptr)
        return false;
    for (;;) {
        // Abandoned: its holder ended without letting go; it is ours now.
        DWORD waited = WaitForSingleObject(mutex, waiting != nullptr ? 50 : INFINITE);
        if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
            folder->lock = mutex;
            return true;
        }
        if (waited != WAIT_TIMEOUT) {
            CloseHandle(mutex);
            return false;
        }
        waiting(context);
    }
}

bool CreateStagedFile(StageFolder* folder, const char* name, StagedFile* file)
{
    if (folder->handle == INVALID_HANDLE_VALUE) {
        SetLastError(folder->error);  // why the folder could not be had
        return false;
    }
    char path[MAX_PATH];
    if (file->handle != INVALID_HANDLE_VALUE || !JoinStagePath(*folder, name, path) || !RemoveName(*folder, path, name))
        return false;
    // CREATE_NEW: a name planted again since is not opened, whatever it is.
    HANDLE handle = CreateFileA(path, GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    if (!LiesIn(*folder, handle, name)) {
        DeleteOnClose(handle);  // made elsewhere: it goes again, unwritten
        CloseHandle(handle);
        return false;
    }
    file->handle = handle;
    return true;
}

bool WriteStagedFile(StagedFile* file, const void* data, size_t size)
{
    const char* at = static_cast<const char*>(data);
    while (size > 0) {
        DWORD part = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
        DWORD done = 0;
        if (!WriteFile(file->handle, at, part, &done, nullptr) || done == 0)
            return false;
        at += done;
        size -= done;
    }
    return true;
}

bool CloseStagedFile(StageFolder*, const char*, StagedFile* file)
{
    // Every write was done, and reported, by WriteFile: closing the handle
    // fails only for a handle that is not one, with nothing left to remove.
    HANDLE handle = file->handle;
    file->handle = INVALID_HANDLE_VALUE;
    return handle != INVALID_HANDLE_VALUE && CloseHandle(handle);
}

void DiscardStagedFile(StageFolder*, const char*, StagedFile* file)
{
    if (file->handle == INVALID_HANDLE_VALUE)
        return;
    DeleteOnClose(file->handle);  // this very file, whatever else has its name by now
    CloseHandle(file->handle);
    file->handle = INVALID_HANDLE_VALUE;
}

int SeekFile(FILE* file, uint64_t offset)
{
    return fseeko64(file, static_cast<off64_t>(offset), SEEK_SET);
}

bool FileEnd(FILE* file, uint64_t* length)
{
    if (fseeko64(file, 0, SEEK_END) != 0)
        return false;
    off64_t at = ftello64(file);
    if (at < 0)
        return false;
    *length = static_cast<uint64_t>(at);
    return true;
}
