// The payload archive carried behind the launcher's executable image.
//
// A launcher file is the program image, filler up to PAYLOAD_OFFSET, then
// entries back to back until the end of the file:
//
//   offset 0    name   128 bytes, ANSI code page, NUL-terminated
//   offset 128  size   4 bytes, unsigned little-endian
//   offset 132  data   size bytes
//
// There is no magic, count, index or checksum: the archive ends where a whole
// header can no longer be read. A launcher signed after packing carries its
// certificate table at the end of the file; the PE header says where it starts,
// and the archive ends there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

const uint32_t PAYLOAD_OFFSET = 0x200000;
const size_t ENTRY_NAME_SIZE = 128;
const size_t ENTRY_SIZE_FIELD = ENTRY_NAME_SIZE;  // offset of the size field
const size_t ENTRY_HEADER_SIZE = 132;
const size_t STAGE_PATH_SIZE = 260;  // MAX_PATH: every path buffer
const char STAGE_DIR_NAME[] = "tmpsoft";

// One entry header, decoded. Never laid over file bytes: see DecodeEntryHeader.
struct PayloadEntryHeader {
    char name[ENTRY_NAME_SIZE];  // always NUL-terminated once decoded
    uint32_t size;
};

// Every way reading or staging can end, with its one-line message.
#define PAYLOAD_ERRORS(X)                                                         \
    X(Ok, "ok")                                                                   \
    X(NoTempPath, "the temporary folder path is too long")                        \
    X(CannotOpenLauncher, "cannot open the launcher file")                        \
    X(ReadFailed, "read error in the launcher file")                              \
    X(NameWithoutNul, "entry name has no terminating NUL in its 128 bytes")       \
    X(UnsafeName, "entry name is not a bare file name")                           \
    X(NameNotConvertible, "entry name cannot be converted for this system")       \
    X(PathTooLong, "staging path and entry name do not fit in 260 bytes")         \
    X(TruncatedData, "entry data is shorter than its size field")                 \
    X(CannotCreate, "cannot create the staged file")                              \
    X(WriteFailed, "cannot write the staged file")                                \
    X(Cancelled, "staging was cancelled")                                         \
    X(NoArchive, "the launcher file ends before the payload offset")

enum class PayloadError {
#define PAYLOAD_ERROR_ENUM(name, text) name,
    PAYLOAD_ERRORS(PAYLOAD_ERROR_ENUM)
#undef PAYLOAD_ERROR_ENUM
};

const char* PayloadErrorText(PayloadError error);

uint16_t ReadLE16(const unsigned char* bytes);
uint32_t ReadLE32(const unsigned char* bytes);
void WriteLE32(unsigned char* bytes, uint32_t value);

// Decodes 132 raw bytes. Fails with NameWithoutNul when the name field holds
// no NUL; the name is not otherwise judged here.
PayloadError DecodeEntryHeader(const unsigned char* raw, PayloadEntryHeader* header);
// Encodes a header whose name is at most 127 bytes; the rest of the field is zero.
void EncodeEntryHeader(const char* name, uint32_t size, unsigned char* raw);

// True when name is one bare Windows file name: not empty, not "." or "..",
// none of \ / : * ? " < > |, no byte below 0x20, no trailing dot or space, not
// a device name (CON, PRN, AUX, NUL, COM0-9, LPT0-9, CONIN$, CONOUT$ in any
// case, with or without an extension). Bytes from 0x80 up are allowed: names
// are in an ANSI code page. The test is bytewise, so a double-byte character
// whose trail byte is '\' or '|' is refused too: on a system with another
// code page that byte would be a separator.
bool IsSafeEntryName(const char* name);

// Where a signed PE image's certificate table lies, read from its security
// data directory. Returns false for an unsigned or non-PE file.
bool FindCertificateTable(FILE* file, uint64_t* offset, uint64_t* size);

// A forward-only reader over a launcher file's archive. Verbs: OpenPayload,
// NextPayloadEntry, ReadPayloadData, ClosePayload.
struct PayloadReader {
    FILE* file = nullptr;
    uint64_t pos = 0;           // file offset of the next unread byte
    uint64_t limit = UINT64_MAX;  // start of a certificate table at or after PAYLOAD_OFFSET
    uint64_t certOffset = 0;    // certificate table, if the image is signed
    uint64_t certSize = 0;
    uint32_t remaining = 0;     // unread data bytes of the current entry
    uint64_t trailing = 0;      // bytes after the last entry, known at the end
    PayloadError error = PayloadError::Ok;
};

// Opens path and positions the reader at PAYLOAD_OFFSET.
PayloadError OpenPayload(PayloadReader* reader, const char* path);
// Reads the next header, first skipping what is left of the current entry's
// data. Returns true with *header filled; false at the end of the archive
// (reader->error Ok) or on a fault (reader->error says which). A name that
// is not safe is reported as UnsafeName with *header still filled.
bool NextPayloadEntry(PayloadReader* reader, PayloadEntryHeader* header);
// Reads up to capacity bytes of the current entry's data. Returns 0 once the
// entry is consumed; when the file ends first, sets TruncatedData (or
// ReadFailed) and returns 0.
size_t ReadPayloadData(PayloadReader* reader, void* buffer, size_t capacity);
void ClosePayload(PayloadReader* reader);
