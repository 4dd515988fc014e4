// The platform layer on POSIX systems: a stand-in for the few Windows calls
// the payload core makes, and staging's folder and files through descriptors,
// so the core, its tests and the packer build and run natively.
#include "platform.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/file.h>
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

StageFolder::~StageFolder()
{
    if (fd >= 0)
        close(fd);
}

StagedFile::~StagedFile()
{
    if (fd >= 0)
        close(fd);
}

namespace {

// Removes whatever has name in the folder unless it is a folder, FIFO,
// device or socket. A symbolic link goes itself; a hard link loses this name
// only. Nothing at the name is fine.
bool RemoveName(int folder, const char* name)
{
    struct stat st;
    if (fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT;
    if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) {
        errno = S_ISDIR(st.st_mode) ? EISDIR : EPERM;
        return false;
    }
    // Should the name change hands meanwhile, the unlink still removes a
    // name in this folder only, and refuses a folder.
    return unlinkat(folder, name, 0) == 0 || errno == ENOENT;
}

// Unlinks name while it is still the file staging made (device and inode).
void RemoveIfSame(const StageFolder& folder, const char* name, const StagedFile& file)
{
    struct stat st;
    if (folder.fd >= 0 && fstatat(folder.fd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && st.st_dev == file.device &&
        st.st_ino == file.inode)
        unlinkat(folder.fd, name, 0);
}

}  // namespace

bool OpenStageFolder(const char* path, StageFolder* folder)
{
    if (folder->fd >= 0)
        close(folder->fd);
    mkdir(path, 0777);  // usually exists already
    // A link in its place is refused, as is a file (ENOTDIR).
    folder->fd = open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    folder->error = folder->fd >= 0 ? 0 : errno;
    struct stat st;
    if (folder->fd < 0 && lstat(path, &st) == 0 && S_ISLNK(st.st_mode))
        folder->error = ELOOP;  // O_DIRECTORY says ENOTDIR, which would not tell why
    return folder->fd >= 0;
}

bool LockStageFolder(StageFolder* folder, void (*waiting)(void* context), void* context)
{
    if (folder->fd < 0)
        return false;
    for (;;) {
        if (flock(folder->fd, LOCK_EX | LOCK_NB) == 0)
            return true;
        if (errno != EWOULDBLOCK && errno != EINTR)
            return false;  // no such lock here (ENOLCK)
        if (waiting == nullptr) {
            if (flock(folder->fd, LOCK_EX) == 0)
                return true;
            if (errno != EINTR)
                return false;
            continue;
        }
        usleep(50 * 1000);
        waiting(context);
    }
}

bool CreateStagedFile(StageFolder* folder, const char* name, StagedFile* file)
{
    if (folder->fd < 0) {
        errno = folder->error;  // why the folder could not be had
        return false;
    }
    if (file->fd >= 0 || !RemoveName(folder->fd, name))
        return false;
    // O_EXCL: a name planted again since is not opened, whatever it is.
    file->fd = openat(folder->fd, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (file->fd < 0)
        return false;
    struct stat st;
    if (fstat(file->fd, &st) == 0) {
        file->device = st.st_dev;
        file->inode = st.st_ino;
    }
    return true;
}

bool WriteStagedFile(StagedFile* file, const void* data, size_t size)
{
    const char* at = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t done = write(file->fd, at, size);
        if (done < 0 && errno == EINTR)
            continue;
        if (done <= 0)
            return false;
        at += done;
        size -= static_cast<size_t>(done);
    }
    return true;
}

bool CloseStagedFile(StageFolder* folder, const char* name, StagedFile* file)
{
    int fd = file->fd;
    file->fd = -1;
    if (fd < 0)
        return false;
    if (close(fd) == 0)
        return true;
    RemoveIfSame(*folder, name, *file);  // a late write error: the file is short
    return false;
}

void DiscardStagedFile(StageFolder* folder, const char* name, StagedFile* file)
{
    if (file->fd < 0)
        return;
    // Unlinked while still open: between the check and the unlink only
    // another holder of the staging lock could put a file under the name.
    RemoveIfSame(*folder, name, *file);
    close(file->fd);
    file->fd = -1;
}

int SeekFile(FILE* file, uint64_t offset)
{
    return fseeko(file, static_cast<off_t>(offset), SEEK_SET);
}

bool FileEnd(FILE* file, uint64_t* length)
{
    if (fseeko(file, 0, SEEK_END) != 0)
        return false;
    off_t at = ftello(file);
    if (at < 0)
        return false;
    *length = static_cast<uint64_t>(at);
    return true;
}
