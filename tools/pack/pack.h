// Making launcher files and looking inside them: the logic behind
// quorvane-pack, callable from tests, benchmarks and generators.
//
// A launcher file is the stub's bytes followed by an archive of the payload
// files, one entry each, in ascending name order ignoring letter case (ties
// broken bytewise), in one of two layouts:
//
//   stored      filler up to PAYLOAD_OFFSET, the entries back to back (each a
//               132-byte header and the file's bytes), then the integrity
//               record (archive.h); write_stored.cpp
//   compressed  straight after the stub: the archive header, each entry's
//               140-byte header and its part of one solid LZMA stream, a
//               barrier where the archive reaches PAYLOAD_OFFSET, and the end
//               record (compressed.h); compress.cpp
//
// Nothing in either depends on time, locale or directory order.
//
// The work is split by step: gather.cpp turns the inputs into items,
// stub.cpp reads and judges the stub, output.cpp keeps the output from
// replacing what it must not and writes it into place, build.cpp runs a whole
// build, describe.cpp reads a launcher for list and check, extract.cpp stages
// it, names.cpp holds the rules for names.
#pragma once

#include <csignal>
#include <cstdint>
#include <string>
#include <vector>

#include "archive.h"
#include "brand.h"
#include "compressed.h"
#include "editions.h"
#include "host_files.h"
#include "pack_error.h"
#include "stage.h"

// Bit i is set when storedNames holds EDITIONS[i]'s setup program
// (editions.h), ignoring ASCII case as Windows does.
unsigned FindEditions(const std::vector<std::string>& storedNames);
// True for the name of the hand-over file an edition writes beside its setup
// program (HAND_OVER_NAME, editions.h), in any case.
bool IsHandOverName(const std::string& storedName);
// True when one of the editions a user can choose has its setup program.
bool CanStartAnEdition(unsigned editions);

// Shell wildcards: * any run, ? any one character (a whole UTF-8 character),
// ASCII letters matched without case, as Windows names compare.
bool MatchesGlob(const std::string& pattern, const std::string& name);
// Files nobody means to ship: Explorer and Finder caches, editor backups and
// swap files.
bool IsStrayFileName(const std::string& name);
// The archive's order: ASCII letters compared without case, then bytewise.
bool PackOrderLess(const std::string& a, const std::string& b);
// Printable form of stored name bytes: ASCII as is, other bytes as \xNN.
std::string EscapeName(const std::string& bytes);
// A number in hexadecimal, "0x" and at least digits digits ("0x0001F000").
std::string HexNumber(uint64_t value, int digits = 0);
// A double-byte character can end in a byte that the bytewise name check
// refuses ('\\' or '|'), which on a system with another ANSI code page would
// be read as that character. Finds the first such character of a name (in
// UTF-8) and its bytes in codePage.
bool FindUnsafeTrailByte(unsigned codePage, const std::string& utf8, std::string* character,
                         std::string* encoded);

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

    bool Cancelled() const { return cancel != nullptr && *cancel != 0; }
};

// Expands the inputs into the payload's files, skipping what an exclude glob
// matches, names them in codePage, checks every name and size, opens every
// file once to be sure it reads, and puts them in archive order. Stray files
// are noted in result->strays.
PackError CollectPackItems(const std::vector<std::string>& inputs, unsigned codePage,
                           std::vector<PackItem>* items, PackResult* result,
                           const std::vector<std::string>& excludes = {});
// The stub installed with the packer at packer (its own path), for a build
// or branding that names none: share/quorvane/Quorvane.exe beside the
// packer's bin/ folder (the installed layout, and both release archives'),
// else the stub named by the note a build tree of this repository leaves
// beside its packer (quorvane-pack.stub.txt, a path relative to its folder).
// False when neither is there, with the places looked at in *tried.
bool FindInstalledStub(const std::string& packer, std::string* stub, std::vector<std::string>* tried);
// Reads and judges the stub.
PackError ReadStub(const std::string& path, bool force, std::vector<unsigned char>* stub,
                   PackResult* result);
// Whether a would-be stub already carries an archive, for build and brand.
// Longer than the payload offset: when a first entry reads cleanly from it (a
// merely large program has none).
bool CarriesArchive(const std::string& path);
// Shorter: a compressed launcher, which only its end record tells from a bare stub.
bool CarriesCompressedArchive(const std::string& path);
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
    PayloadError pictureError = PayloadError::Ok;  // a compressed picture in the stub that does not decode
    std::string pictureName;     // its resource id ("129")
    uint64_t errorOffset = 0;    // the damaged entry's header
    std::string errorName;       // its stored name, when it has one
    std::string reason;          // the system's words when the file could not be read
};

// Reads the whole archive. Returns the first fault: CannotOpenLauncher or
// ReadFailed for I/O (the report then holds nothing but the reason),
// NameWithoutNul, UnsafeName or TruncatedData for damage. The stub's
// compressed pictures are decoded too; their damage is report->pictureError.
PayloadError DescribeLauncher(const std::string& path, unsigned codePage, LauncherReport* report);

// Stages the launcher's entries into dir with the launcher's own staging
// code, names converted from codePage to the host's UTF-8.
bool ExtractLauncher(const std::string& path, const std::string& dir, unsigned codePage,
                     void (*entryStaged)(const char* name, const PayloadEntryHeader& header, void* context),
                     void* context, StageResult* result);
