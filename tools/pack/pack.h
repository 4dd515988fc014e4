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
#include "brand.h"
#include "compressed.h"
#include "host_files.h"
#include "stage.h"

#define PACK_ERRORS(X)                                                                 \
    X(Ok, "ok")                                                                        \
    X(UnsupportedCodePage, "code page is not supported on this system")               \
    X(MissingInput, "cannot open the input")                                           \
    X(NotFileOrFolder, "not a regular file or folder")                                 \
    X(NestedFolder, "folder inside a payload folder: the archive is flat")             \
    X(NameNotRepresentable, "name cannot be represented in the code page")             \
    X(NameTooLong, "name is longer than 127 bytes once encoded")                       \
    X(UnsafeName, "name is not one bare Windows file name")                            \
    X(UnsafeTrailByte, "name is not one bare Windows file name once encoded")          \
    X(DuplicateName, "names are equal ignoring case")                                  \
    X(FileTooLarge, "file is 4 GiB or larger")                                         \
    X(StubTooLarge, "stub is longer than the payload offset (2 MiB)")                  \
    X(StubCarriesPayload, "stub already carries a payload: give the bare launcher")    \
    X(StubNotPe, "stub is not a PE image (MZ and PE signatures); --force packs it anyway") \
    X(OutputIsStub, "the output is the stub itself: building would destroy it")        \
    X(OutputIsInput, "the output is one of the input files: building would destroy it") \
    X(OutputInInputFolder, "the output lies inside a payload folder: each build would pack the last") \
    X(OutputNotFile, "the output is a folder or device, not a file")                   \
    X(ReadFailed, "read error")                                                        \
    X(InputChanged, "file changed size while being packed")                            \
    X(CannotCreateOutput, "cannot create the output file")                             \
    X(WriteFailed, "cannot write the output file")                                     \
    X(Interrupted, "interrupted")                                                      \
    X(StubCannotDecompress, "the stub cannot read compressed archives: its version block lists no " \
                            "lzma1 under PayloadFormats (use a stub built from this version, or --compress none)") \
    X(StubCarriesArchive, "stub already carries a compressed archive: give the bare launcher") \
    X(OutOfMemory, "not enough memory to compress")                                    \
    X(CompressionFailed, "the compressed data did not decode back to the payload")     \
    X(BrandRefused, "the stub cannot be branded (the branding result says why)")

enum class PackError {
#define PACK_ERROR_ENUM(name, text) name,
    PACK_ERRORS(PACK_ERROR_ENUM)
#undef PACK_ERROR_ENUM
};

const char* PackErrorText(PackError error);

// The launcher's editions: the setup program each one starts from the
// staging folder. Windows ignores case, so any case in the payload will do.
struct Edition {
    const char* language;
    const char* program;
    bool offered;  // false for English: its button is hidden and disabled
};
const size_t EDITION_COUNT = 3;
extern const Edition EDITIONS[EDITION_COUNT];
// Bit i is set when storedNames holds EDITIONS[i].program, ignoring ASCII case.
unsigned FindEditions(const std::vector<std::string>& storedNames);
// True when one of the editions a user can choose has its setup program.
bool CanStartAnEdition(unsigned editions);

// Shell wildcards: * any run, ? any one character (a whole UTF-8 character),
// ASCII letters matched without case, as Windows names compare.
bool MatchesGlob(const std::string& pattern, const std::string& name);
// Files nobody means to ship: Explorer and Finder caches, editor backups and
// swap files.
bool IsStrayFileName(const std::string& name);

// One payload file: where it is, its name on the host (UTF-8) and as stored.
struct PackItem {
    std::string path;
    std::string hostName;
    std::string storedName;
    uint64_t size = 0;
    HostFileId id;
};

// How build stores the entries' data.
enum class PackCompression {
    None,  // stored as is, behind filler up to PAYLOAD_OFFSET
    Lzma,  // one LZMA stream straight after the stub (compressed.h)
};

struct PackRequest {
    std::string output;
    std::string stub;
    std::vector<std::string> inputs;  // files and folders of files
    std::vector<std::string> excludes;  // globs; matching files and folders are skipped
    unsigned codePage = 936;
    unsigned char filler = 0xCD;
    bool force = false;  // accept a stub without PE signatures
    bool integrity = true;  // append the integrity record after the last entry (a compressed archive always has its end record)
    PackCompression compression = PackCompression::None;
    const BrandOptions* brand = nullptr;  // brands the stub on the way (brand.h)
    // Called after each chunk written, with bytes done and the output's size;
    // when compressing, with payload bytes compressed and the payload's size.
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
    std::string other;    // the second name of a duplicate pair, the input OUT would replace
    std::string reason;   // the system's words, when the system refused
    std::string character;  // UnsafeTrailByte: the character, in UTF-8,
    std::string encoded;    // and its bytes in the code page
    std::vector<std::string> strays;  // packed files that look left behind by accident
    unsigned editions = 0;            // FindEditions over the packed names
    bool launcherStub = false;        // IsLauncherImage over the stub
    BrandResult brand;                // BrandRefused: why; else the branding's warnings
    unsigned entries = 0;
    uint64_t dataBytes = 0;
    uint64_t packedBytes = 0;  // the entries' data as stored: dataBytes, or the compressed stream's size
    uint64_t outputSize = 0;
};

// Expands the inputs into the payload's files, skipping what an exclude glob
// matches, names them in codePage, checks every name and size, opens every
// file once to be sure it reads, and puts them in archive order. Stray files
// are noted in result->strays.
PackError CollectPackItems(const std::vector<std::string>& inputs, unsigned codePage,
                           std::vector<PackItem>* items, PackResult* result,
                           const std::vector<std::string>& excludes = {});
// The archive's order: ASCII letters compared without case, then bytewise.
bool PackOrderLess(const std::string& a, const std::string& b);
// Reads and judges the stub.
PackError ReadStub(const std::string& path, bool force, std::vector<unsigned char>* stub,
                   PackResult* result);
// The whole build. Every input is judged and the output is checked against
// the stub and the inputs (by file identity) before anything is written; then
// a temporary file beside the output is written, flushed to disk and renamed
// into place. On failure neither a partial output nor the
// temporary file remains, and an existing output is untouched.
PackError BuildLauncher(const PackRequest& request, PackResult* result);

// What list and check report about a launcher file.
struct ListedEntry {
    std::string storedName;
    std::string utf8Name;     // empty when the name does not convert
    uint32_t size = 0;
    uint32_t packedSize = 0;  // the bytes that hold its data: size, unless compressed
    uint8_t method = ENTRY_METHOD_STORED;
    uint8_t filter = ENTRY_FILTER_NONE;
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
    uint64_t packedBytes = 0;    // the entries' data as stored
    bool compressed = false;     // a compressed archive (compressed.h), at archiveStart
    uint64_t archiveStart = PAYLOAD_OFFSET;
    uint32_t dictionary = 0;     // its LZMA dictionary size
    uint64_t archiveEnd = 0;     // end of the last whole entry
    uint64_t trailing = 0;       // bytes after it that do not make a header
    bool signedImage = false;
    uint64_t certOffset = 0;
    uint64_t certSize = 0;
    IntegrityState integrity = IntegrityState::None;  // Pending: damage stopped the reading first
    IntegrityRecord record;      // when integrity is not None
    uint64_t recordOffset = 0;
    bool launcherStub = false;   // the image is our launcher (IsLauncherImage)
    unsigned editions = 0;       // FindEditions over the entries read
    PayloadError error = PayloadError::Ok;  // damage found, if any
    uint64_t errorOffset = 0;    // the damaged entry's header
    std::string errorName;       // its stored name, when it has one
    std::string reason;          // the system's words when the file could not be read
};

// Reads the whole archive. Returns the first fault: CannotOpenLauncher or
// ReadFailed for I/O (the report then holds nothing but the reason),
// NameWithoutNul, UnsafeName or TruncatedData for damage.
PayloadError DescribeLauncher(const std::string& path, unsigned codePage, LauncherReport* report);

// Stages the launcher's entries into dir with the launcher's own staging
// code, names converted from codePage to the host's UTF-8.
bool ExtractLauncher(const std::string& path, const std::string& dir, unsigned codePage,
                     void (*entryStaged)(const char* name, const PayloadEntryHeader& header, void* context),
                     void* context, StageResult* result);

// Printable form of stored name bytes: ASCII as is, other bytes as \xNN.
std::string EscapeName(const std::string& bytes);
