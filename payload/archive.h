// The payload archive carried behind the launcher's executable image.
//
// A launcher file is the program image, filler up to PAYLOAD_OFFSET, then
// entries back to back until the end of the file:
//
//   offset 0    name   128 bytes, ANSI code page, NUL-terminated
//   offset 128  size   4 bytes, unsigned little-endian
//   offset 132  data   size bytes
//
// There is no magic, count or index: the archive ends where a whole header can
// no longer be read. A launcher signed after packing carries its certificate
// table at the end of the file; the PE header says where it starts, and the
// archive ends there.
//
// The packer appends an integrity record after the last entry. It is shorter
// than a header, so a reader that does not know it takes it for trailing bytes
// and ignores it. It ends the file, or the bytes before a certificate table
// followed by at most 7 zero bytes (signing tools align the table to 8):
//
//   offset 0    magic      8 bytes, "QVINTEGR"
//   offset 8    version    2 bytes, 1
//   offset 10   algorithm  2 bytes, 1: XXH3-128
//   offset 12   entries    4 bytes, the number of entries before it
//   offset 16   length     8 bytes, its own offset less PAYLOAD_OFFSET
//   offset 24   digest     16 bytes, of every byte from PAYLOAD_OFFSET up to it
//
// All numbers are unsigned little-endian; the digest is XXH128's canonical
// (big-endian) form.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "error_kind.h"

const uint32_t PAYLOAD_OFFSET = 0x200000;
const size_t ENTRY_NAME_SIZE = 128;
const size_t ENTRY_SIZE_FIELD = ENTRY_NAME_SIZE;  // offset of the size field
const size_t ENTRY_HEADER_SIZE = 132;
const size_t STAGE_PATH_SIZE = 260;  // MAX_PATH: every path buffer
const char STAGE_DIR_NAME[] = "tmpsoft";

const size_t INTEGRITY_RECORD_SIZE = 40;
const size_t INTEGRITY_MAX_PADDING = 7;  // zero bytes a signing tool may add after it
const unsigned char INTEGRITY_MAGIC[8] = {'Q', 'V', 'I', 'N', 'T', 'E', 'G', 'R'};
const uint16_t INTEGRITY_VERSION = 1;
const uint16_t INTEGRITY_XXH3_128 = 1;

// One entry header, decoded. Never laid over file bytes: see DecodeEntryHeader.
struct PayloadEntryHeader {
    char name[ENTRY_NAME_SIZE];  // always NUL-terminated once decoded
    uint32_t size;               // the entry's data, as staged
    uint32_t packedSize;         // the bytes that hold it in the archive
    uint8_t method;              // ENTRY_METHOD_STORED, or ENTRY_METHOD_LZMA (compressed.h)
    uint8_t filter;              // ENTRY_FILTER_NONE or ENTRY_FILTER_X86 (compressed.h)
};

// Which side of the copy a staging fault lies on, and whether the system can
// say why. The launcher tells the user to get a new copy for a fault on the
// launcher file's side (Archive, Read) and to free disk space or close
// programs for one on the staging side (Room, Write). The tool adds the
// system's last words to a failed call (Read, Write).
enum class PayloadSide {
    None,     // nothing failed, or the staging was cancelled
    Archive,  // what the launcher file holds is not a whole, sound archive
    Read,     // opening or reading the launcher file failed
    Room,     // this machine cannot take the files: a path too long, memory short
    Write,    // creating or writing a staged file failed
};

// Every way reading or staging can end: its kind (error_kind.h), its side and
// its one-line message.
#define PAYLOAD_ERRORS(X)                                                                                      \
    X(Ok, None, None, "ok")                                                                                    \
    X(NoTempPath, System, Room, "the temporary folder path is too long")                                      \
    X(CannotOpenLauncher, System, Read, "cannot open the launcher file")                                      \
    X(ReadFailed, System, Read, "read error in the launcher file")                                            \
    X(NameWithoutNul, Damage, Archive, "entry name has no terminating NUL in its 128 bytes")                  \
    X(UnsafeName, Damage, Archive, "entry name is not a bare file name")                                      \
    X(NameNotConvertible, Refused, Archive, "entry name cannot be converted for this system")                 \
    X(PathTooLong, System, Room, "staging path and entry name do not fit in 260 bytes")                       \
    X(TruncatedData, Damage, Archive, "entry data is shorter than its size field")                            \
    X(CannotCreate, System, Write, "cannot create the staged file")                                           \
    X(WriteFailed, System, Write, "cannot write the staged file")                                             \
    X(Cancelled, System, None, "staging was cancelled")                                                       \
    X(NoArchive, Damage, Archive, "the launcher file ends before the payload offset")                         \
    X(IntegrityMismatch, Damage, Archive, "the archive does not match its integrity record")                  \
    X(UnknownArchive, Damage, Archive, "compressed archive of a format, codec or method this reader does not know") \
    X(DictionaryTooLarge, Damage, Archive, "compressed archive needs a dictionary over 64 MiB")               \
    X(DamagedArchive, Damage, Archive, "compressed data does not decode to the sizes the archive declares")   \
    X(OutOfMemory, System, Room, "not enough memory to decompress the archive")                               \
    X(ArchiveCutShort, Damage, Archive, "the compressed archive is cut short: its end record is missing")    \
    X(DuplicateName, Damage, Archive, "entry name equals an earlier entry's, ignoring case")                 \
    X(TooManyEntries, Damage, Archive, "more entries than a launcher file holds (1,048,576)")    \
    X(UnknownPicture, Damage, Archive, "compressed picture of a format or codec this reader does not know")   \
    X(PictureTooLarge, Damage, Archive, "compressed picture needs a dictionary over its cap")                  \
    X(DamagedPicture, Damage, Archive, "compressed picture does not decode to the pixels its header describes")

enum class PayloadError {
#define PAYLOAD_ERROR_ENUM(name, kind, side, text) name,
    PAYLOAD_ERRORS(PAYLOAD_ERROR_ENUM)
#undef PAYLOAD_ERROR_ENUM
};

const char* PayloadErrorText(PayloadError error);

// An error's kind and side, from the list above.
struct PayloadErrorClass {
    ErrorKind kind;
    PayloadSide side;
};

inline PayloadErrorClass ClassifyPayloadError(PayloadError error)
{
    static const PayloadErrorClass classes[] = {
#define PAYLOAD_ERROR_CLASS(name, kind, side, text) {ErrorKind::kind, PayloadSide::side},
        PAYLOAD_ERRORS(PAYLOAD_ERROR_CLASS)
#undef PAYLOAD_ERROR_CLASS
    };
    return classes[static_cast<size_t>(error)];
}

inline ErrorKind PayloadErrorKind(PayloadError error)
{
    return ClassifyPayloadError(error).kind;
}

inline PayloadSide PayloadErrorSide(PayloadError error)
{
    return ClassifyPayloadError(error).side;
}

// Decodes 132 raw bytes. Fails with NameWithoutNul when the name field holds
// no NUL; the name is not otherwise judged here.
PayloadError DecodeEntryHeader(const unsigned char* raw, PayloadEntryHeader* header);
// Encodes a header whose name is at most 127 bytes; the rest of the field is zero.
void EncodeEntryHeader(const char* name, uint32_t size, unsigned char* raw);

// True when name is one bare Windows file name: not empty, not "." or "..",
// none of \ / : * ? " < > |, no byte below 0x20, no trailing dot or space, not
// a device name (CON, PRN, AUX, NUL, COM0-9, LPT0-9, CONIN$, CONOUT$ in any
// case, with or without an extension, and COM or LPT followed by the
// superscript digits 1, 2 or 3 as Windows' ANSI code pages hold them). Bytes from 0x80 up are allowed: names
// are in an ANSI code page. The test is bytewise, so a double-byte character
// whose trail byte is '\' or '|' is refused too: on a system with another
// code page that byte would be a separator.
bool IsSafeEntryName(const char* name);

// One integrity record, decoded.
struct IntegrityRecord {
    uint16_t version = 0;
    uint16_t algorithm = 0;
    uint32_t entries = 0;
    uint64_t length = 0;
    unsigned char digest[16] = {};
};

// The fields the integrity record shares with the compressed archive's end
// record (compressed.h): the magic, version, algorithm and entry count at 0,
// the length at lengthAt and the digest after it. Decoding fails, and fills
// nothing, unless the bytes start with magic.
void EncodeRecordFields(const unsigned char magic[8], const IntegrityRecord& record, size_t lengthAt,
                        unsigned char* raw);
bool DecodeRecordFields(const unsigned char* raw, const unsigned char magic[8], size_t lengthAt,
                        IntegrityRecord* record);
// Encodes a record into INTEGRITY_RECORD_SIZE bytes.
void EncodeIntegrityRecord(const IntegrityRecord& record, unsigned char* raw);
// Decodes INTEGRITY_RECORD_SIZE bytes; false unless they start with the magic.
bool DecodeIntegrityRecord(const unsigned char* raw, IntegrityRecord* record);
// The algorithm's name ("XXH3-128"), or "unknown".
const char* IntegrityAlgorithmName(uint16_t algorithm);

// Looks for an integrity record ending at end, or followed by up to
// INTEGRITY_MAX_PADDING zero bytes up to end, whose length field names its
// own place. Sets *offset to where it starts.
bool FindIntegrityRecord(FILE* file, uint64_t end, IntegrityRecord* record, uint64_t* offset);

// Where a signed PE image's certificate table lies, read from its security
// data directory. Returns false for an unsigned or non-PE file.
bool FindCertificateTable(FILE* file, uint64_t* offset, uint64_t* size);

// What the reader knows of the archive's integrity record.
enum class IntegrityState {
    None,         // no record: nothing to verify
    Unsupported,  // a record of a version or algorithm this reader does not know
    Pending,      // a record, and the archive not yet read to its end
    Verified,     // every byte and the entry count match the record
    Mismatch,     // they do not
};

class ArchiveDigest;
struct CompressedReader;
struct NameSet;

// No launcher carries more entries than this; an archive that claims more is
// refused before the reader's memory for their names grows past 16 MiB.
const uint32_t MAX_ARCHIVE_ENTRIES = 1u << 20;

// A forward-only reader over a launcher file's archive. Verbs: OpenPayload,
// NextPayloadEntry, ReadPayloadData, ClosePayload. The same verbs read a
// compressed archive (compressed.h): entries come out with their data
// decompressed.
//
// With a record, every byte read is fed to the digest as it passes, so the
// verification costs no second read; NextPayloadEntry concludes it at the
// archive's end and fails with IntegrityMismatch when it does not hold.
// Without one, data left unread is skipped by seeking.
struct PayloadReader {
    FILE* file = nullptr;
    uint64_t start = PAYLOAD_OFFSET;  // file offset of the archive's first byte
    uint64_t pos = 0;           // file offset of the next unread byte
    uint64_t limit = UINT64_MAX;  // where the archive must end: a certificate table or the record
    uint64_t end = 0;           // the file's end, or the limit if that comes first
    uint64_t certOffset = 0;    // certificate table, if the image is signed
    uint64_t certSize = 0;
    uint64_t headerOffset = 0;  // file offset of the last entry header read
    uint32_t remaining = 0;     // unread data bytes of the current entry
    uint64_t trailing = 0;      // bytes after the last entry, known at the end
    unsigned entries = 0;       // headers read
    IntegrityState integrity = IntegrityState::None;
    IntegrityRecord record;     // when integrity is not None
    uint64_t recordOffset = 0;
    ArchiveDigest* digest = nullptr;  // owned; while integrity is Pending
    CompressedReader* compressed = nullptr;  // owned; for a compressed archive
    NameSet* names = nullptr;   // owned; the names read so far, to refuse one that comes again
    PayloadError error = PayloadError::Ok;
};

// Opens path, finds a certificate table and an integrity record, and
// positions the reader at PAYLOAD_OFFSET; or finds a compressed archive's end
// record and positions the reader at its start. A compressed archive's header
// right after the image without an end record is a file cut short
// (ArchiveCutShort, at the first NextPayloadEntry), never read as stored.
PayloadError OpenPayload(PayloadReader* reader, const char* path);
// Reads the next header, first skipping what is left of the current entry's
// data. Returns true with *header filled; false at the end of the archive
// (reader->error Ok) or on a fault (reader->error says which). A name that
// is not safe is reported as UnsafeName, and one equal to an earlier entry's
// ignoring ASCII case (on Windows the second would replace the first) as
// DuplicateName, with *header still filled.
bool NextPayloadEntry(PayloadReader* reader, PayloadEntryHeader* header);
// Reads up to capacity bytes of the current entry's data. Returns 0 once the
// entry is consumed; when the file ends first, sets TruncatedData (or
// ReadFailed) and returns 0.
size_t ReadPayloadData(PayloadReader* reader, void* buffer, size_t capacity);
void ClosePayload(PayloadReader* reader);

// The stored reader's side, behind the verbs above (payload_reader.cpp),
// which hand over here when the file holds no compressed archive. fileEnd:
// the file's length. False, with reader->error, when it cannot be read.
bool OpenStoredArchive(PayloadReader* reader, uint64_t fileEnd);
bool NextStoredEntry(PayloadReader* reader, PayloadEntryHeader* header);
size_t ReadStoredData(PayloadReader* reader, void* buffer, size_t capacity);
