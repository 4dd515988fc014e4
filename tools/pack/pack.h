// Making launcher files and looking inside them: the logic behind
// quorvane-pack, callable from tests, benchmarks and generators.
//
// A launcher file is the stub's bytes, filler up to PAYLOAD_OFFSET, then one
// entry per payload file in ascending name order ignoring letter case (ties
// broken bytewise). Nothing in it depends on time, locale or directory order.
#pragma once

#include <csignal>
#include <cstdint>
#include <string>
#include <vector>

#include "archive.h"
#include "stage.h"

#define PACK_ERRORS(X)                                                                 \
    X(Ok, "ok")                                                                        \
    X(UnsupportedCodePage, "code page is not supported on this system")               \
    X(MissingInput, "no such file or folder")                                          \
    X(NotFileOrFolder, "not a regular file or folder")                                 \
    X(NestedFolder, "folder inside a payload folder: the archive is flat")             \
    X(NameNotRepresentable, "name cannot be represented in the code page")             \
    X(NameTooLong, "name is longer than 127 bytes once encoded")                       \
    X(UnsafeName, "name is not one bare Windows file name")                            \
    X(DuplicateName, "names are equal ignoring case")                                  \
    X(FileTooLarge, "file is 4 GiB or larger")                                         \
    X(StubTooLarge, "stub is longer than the payload offset (2 MiB)")                  \
    X(StubCarriesPayload, "stub already carries a payload: give the bare launcher")    \
    X(StubNotPe, "stub is not a PE image (MZ and PE signatures); --force packs it anyway") \
    X(ReadFailed, "read error")                                                        \
    X(InputChanged, "file changed size while being packed")                            \
    X(CannotCreateOutput, "cannot create the output file")                             \
    X(WriteFailed, "cannot write the output file")                                     \
    X(Interrupted, "interrupted")

enum class PackError {
#define PACK_ERROR_ENUM(name, text) name,
    PACK_ERRORS(PACK_ERROR_ENUM)
#undef PACK_ERROR_ENUM
};

const char* PackErrorText(PackError error);

// One payload file: where it is, its name on the host (UTF-8) and as stored.
struct PackItem {
    std::string path;
    std::string hostName;
    std::string storedName;
    uint64_t size = 0;
};

struct PackRequest {
    std::string output;
    std::string stub;
    std::vector<std::string> inputs;  // files and folders of files
    unsigned codePage = 936;
    unsigned char filler = 0xCD;
    bool force = false;  // accept a stub without PE signatures
    // Called after each chunk written, with bytes done and the output's size.
    void (*progress)(uint64_t done, uint64_t total, void* context) = nullptr;
    // Called once per entry as it starts, with its header's file offset.
    void (*entryStarted)(const PackItem& item, uint64_t offset, void* context) = nullptr;
    void* context = nullptr;
    // Set by a signal handler; the build stops, and cleans up, at the next check.
    const volatile std::sig_atomic_t* cancel = nullptr;
};

struct PackResult {
    PackError error = PackError::Ok;
    std::string culprit;  // the offending path, name or argument
    std::string other;    // the second name of a duplicate pair
    unsigned entries = 0;
    uint64_t dataBytes = 0;
    uint64_t outputSize = 0;
};

// Expands the inputs into the payload's files, names them in codePage, checks
// every name and size, and puts them in archive order.
PackError CollectPackItems(const std::vector<std::string>& inputs, unsigned codePage,
                           std::vector<PackItem>* items, PackResult* result);
// The archive's order: ASCII letters compared without case, then bytewise.
bool PackOrderLess(const std::string& a, const std::string& b);
// Reads and judges the stub.
PackError ReadStub(const std::string& path, bool force, std::vector<unsigned char>* stub,
                   PackResult* result);
// The whole build: writes a temporary file beside the output and renames it
// into place only when complete. On failure neither a partial output nor the
// temporary file remains, and an existing output is untouched.
PackError BuildLauncher(const PackRequest& request, PackResult* result);

// What list and check report about a launcher file.
struct ListedEntry {
    std::string storedName;
    std::string utf8Name;     // empty when the name does not convert
    uint32_t size = 0;
    uint64_t offset = 0;      // of the entry's header
};

struct LauncherReport {
    uint64_t fileSize = 0;
    bool imageEndKnown = false;  // false for a file that is not a PE image
    uint64_t imageEnd = 0;
    uint64_t fillerEnd = 0;      // PAYLOAD_OFFSET, or the file's end if it is shorter
    bool fillerUniform = false;  // every filler byte is fillerByte
    unsigned char fillerByte = 0;
    std::vector<ListedEntry> entries;
    uint64_t dataBytes = 0;
    uint64_t archiveEnd = 0;     // end of the last whole entry
    uint64_t trailing = 0;       // bytes after it that do not make a header
    bool signedImage = false;
    uint64_t certOffset = 0;
    uint64_t certSize = 0;
    PayloadError error = PayloadError::Ok;  // damage found, if any
    uint64_t errorOffset = 0;    // the damaged entry's header
    std::string errorName;       // its stored name, when it has one
};

// Reads the whole archive. Returns the first fault: CannotOpenLauncher or
// ReadFailed for I/O, NameWithoutNul, UnsafeName or TruncatedData for damage.
PayloadError DescribeLauncher(const std::string& path, unsigned codePage, LauncherReport* report);

// Stages the launcher's entries into dir with the launcher's own staging
// code, names converted from codePage to the host's UTF-8.
bool ExtractLauncher(const std::string& path, const std::string& dir, unsigned codePage,
                     void (*entryStaged)(const char* name, uint32_t size, void* context),
                     void* context, StageResult* result);

// Printable form of stored name bytes: ASCII as is, other bytes as \xNN.
std::string EscapeName(const std::string& bytes);
