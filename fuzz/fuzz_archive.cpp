// Fuzz target over the archive reader and the staging extractor.
//
// Input: the archive itself, laid at PAYLOAD_OFFSET of a launcher file whose
// filler is a hole (a sparse file, so each run writes only the fuzz bytes).
// An input that starts with "MZ" carries its first IMAGE_HEAD_SIZE bytes as
// the image head at offset 0 instead, so a PE header with a certificate
// directory, well formed or not, can end the archive early.
//
// Each run writes that launcher file into a scratch folder, reads it with the
// reader and stages it there, and checks both against a model walked over the
// input bytes: the stored archive's in fuzz_archive_stored.cpp, the
// compressed archive's in fuzz_archive_compressed.cpp. An input that starts
// with the compressed archive's magic is a compressed archive, laid
// COMPRESSED_AT bytes before PAYLOAD_OFFSET with no image head; so is any
// file the reader finds an end record in. The scratch folder is emptied
// after every run.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "archive.h"
#include "compressed.h"
#include "fuzz_archive.h"
#include "pe_headers.h"

std::string g_root;
std::string g_launcher;
std::string g_stage;

[[noreturn]] void Fail(const char* what, const std::string& detail)
{
    fprintf(stderr, "fuzz_archive: %s%s%s\n", what, detail.empty() ? "" : ": ", detail.c_str());
    abort();
}

void Check(bool ok, const char* what, const std::string& detail)
{
    if (!ok)
        Fail(what, detail);
}

std::vector<std::string> List(const std::string& path)
{
    std::vector<std::string> names;
    if (DIR* dir = opendir(path.c_str())) {
        while (dirent* e = readdir(dir))
            if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
                names.push_back(e->d_name);
        closedir(dir);
    }
    return names;
}

bool IsBareName(const char* name)
{
    return IsSafeEntryName(name) && strchr(name, '/') == nullptr && strchr(name, '\\') == nullptr;
}

namespace {

const size_t IMAGE_HEAD_SIZE = 512;

void RemoveTree(const std::string& path)
{
    struct stat st;
    if (lstat(path.c_str(), &st) != 0)
        return;
    if (S_ISDIR(st.st_mode)) {
        if (DIR* dir = opendir(path.c_str())) {
            std::vector<std::string> names;
            while (dirent* e = readdir(dir))
                if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
                    names.push_back(e->d_name);
            closedir(dir);
            for (const std::string& name : names)
                RemoveTree(path + "/" + name);
        }
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}


void RemoveScratch()
{
    if (!g_root.empty())
        RemoveTree(g_root);
}

Launcher Split(const uint8_t* data, size_t size)
{
    Launcher l;
    if (size >= sizeof COMPRESSED_MAGIC && memcmp(data, COMPRESSED_MAGIC, sizeof COMPRESSED_MAGIC) == 0) {
        l.archive = data;
        l.archiveSize = size;
        l.at = PAYLOAD_OFFSET - COMPRESSED_AT;
        return l;
    }
    if (size >= 2 && data[0] == 'M' && data[1] == 'Z') {
        l.head = data;
        l.headSize = size < IMAGE_HEAD_SIZE ? size : IMAGE_HEAD_SIZE;
        data += l.headSize;
        size -= l.headSize;
    }
    l.archive = data;
    l.archiveSize = size;
    return l;
}

void WriteAll(int fd, const uint8_t* data, size_t size, off_t at)
{
    while (size > 0) {
        ssize_t n = pwrite(fd, data, size, at);
        Check(n > 0, "cannot write the launcher file");
        data += n;
        size -= static_cast<size_t>(n);
        at += n;
    }
}

void WriteLauncher(const Launcher& l)
{
    int fd = open(g_launcher.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    Check(fd >= 0, "cannot create the launcher file");
    WriteAll(fd, l.head, l.headSize, 0);
    Check(ftruncate(fd, static_cast<off_t>(l.at)) == 0, "cannot size the launcher file");
    WriteAll(fd, l.archive, l.archiveSize, static_cast<off_t>(l.at));
    close(fd);
}

void EmptyScratch()
{
    for (const std::string& name : List(g_root))
        RemoveTree(g_root + "/" + name);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const char* base = getenv("QUORVANE_FUZZ_SCRATCH");
    if (base == nullptr || *base == '\0') {
        struct stat st;
        base = stat("/dev/shm", &st) == 0 && access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    }
    std::string pattern = std::string(base) + "/qv-fuzz-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    Check(mkdtemp(buf.data()) != nullptr, "cannot make the scratch folder", pattern);
    g_root = buf.data();
    g_launcher = g_root + "/launcher.exe";
    g_stage = g_root + "/tmpsoft";
    atexit(RemoveScratch);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Launcher launcher = Split(data, size);
    WriteLauncher(launcher);
    // An end record makes any file a compressed launcher, wherever it was laid.
    PayloadReader probe;
    bool endRecord = OpenPayload(&probe, g_launcher.c_str()) == PayloadError::Ok && probe.compressed != nullptr;
    ClosePayload(&probe);
    if (launcher.compressed() || endRecord) {
        CheckCompressed(launcher);
    } else {
        CheckStored(launcher);
    }
    EmptyScratch();
    return 0;
}
