#include "archive.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "byte_order.h"
#include "compressed.h"
#include "digest.h"
#include "pe_headers.h"
#include "platform.h"

const char* PayloadErrorText(PayloadError error)
{
    switch (error) {
#define PAYLOAD_ERROR_TEXT(name, text) \
    case PayloadError::name:           \
        return text;
        PAYLOAD_ERRORS(PAYLOAD_ERROR_TEXT)
#undef PAYLOAD_ERROR_TEXT
    }
    return "unknown error";
}

PayloadError DecodeEntryHeader(const unsigned char* raw, PayloadEntryHeader* header)
{
    if (memchr(raw, '\0', ENTRY_NAME_SIZE) == nullptr)
        return PayloadError::NameWithoutNul;
    memcpy(header->name, raw, ENTRY_NAME_SIZE);
    header->size = ReadLE32(raw + ENTRY_SIZE_FIELD);
    header->packedSize = header->size;
    header->method = ENTRY_METHOD_STORED;
    header->filter = ENTRY_FILTER_NONE;
    return PayloadError::Ok;
}

void EncodeEntryHeader(const char* name, uint32_t size, unsigned char* raw)
{
    memset(raw, 0, ENTRY_HEADER_SIZE);
    size_t len = strnlen(name, ENTRY_NAME_SIZE - 1);
    memcpy(raw, name, len);
    WriteLE32(raw + ENTRY_SIZE_FIELD, size);
}

static char AsciiUpper(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// Windows reserves these names in every folder, whatever follows the first dot.
static bool IsDeviceName(const char* name)
{
    size_t stem = 0;
    while (name[stem] != '\0' && name[stem] != '.')
        ++stem;
    // "CON .txt" opens the console too: spaces before the extension are dropped.
    while (stem > 0 && name[stem - 1] == ' ')
        --stem;
    char upper[8];
    if (stem < 3 || stem >= sizeof upper)
        return false;
    for (size_t i = 0; i < stem; ++i)
        upper[i] = AsciiUpper(name[i]);
    upper[stem] = '\0';

    static const char* const fixed[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* device : fixed)
        if (strcmp(upper, device) == 0)
            return true;
    if (stem == 4 && (memcmp(upper, "COM", 3) == 0 || memcmp(upper, "LPT", 3) == 0))
        return upper[3] >= '0' && upper[3] <= '9';
    return false;
}

bool IsSafeEntryName(const char* name)
{
    size_t len = strlen(name);
    if (len == 0 || strcmp(name, ".") == 0 || strcmp(name, "..") == 0)
        return false;
    for (size_t i = 0; i < len; ++i) {
        unsigned char c = static_cast<unsigned char>(name[i]);
        if (c < 0x20 || strchr("\\/:*?\"<>|", c) != nullptr)
            return false;
    }
    if (name[len - 1] == '.' || name[len - 1] == ' ')
        return false;
    return !IsDeviceName(name);
}

void EncodeRecordFields(const unsigned char magic[8], const IntegrityRecord& record, size_t lengthAt,
                        unsigned char* raw)
{
    memcpy(raw, magic, 8);
    WriteLE16(raw + 8, record.version);
    WriteLE16(raw + 10, record.algorithm);
    WriteLE32(raw + 12, record.entries);
    WriteLE64(raw + lengthAt, record.length);
    memcpy(raw + lengthAt + 8, record.digest, sizeof record.digest);
}

bool DecodeRecordFields(const unsigned char* raw, const unsigned char magic[8], size_t lengthAt,
                        IntegrityRecord* record)
{
    if (memcmp(raw, magic, 8) != 0)
        return false;
    record->version = ReadLE16(raw + 8);
    record->algorithm = ReadLE16(raw + 10);
    record->entries = ReadLE32(raw + 12);
    record->length = ReadLE64(raw + lengthAt);
    memcpy(record->digest, raw + lengthAt + 8, sizeof record->digest);
    return true;
}

void EncodeIntegrityRecord(const IntegrityRecord& record, unsigned char* raw)
{
    memset(raw, 0, INTEGRITY_RECORD_SIZE);
    EncodeRecordFields(INTEGRITY_MAGIC, record, 16, raw);
}

bool DecodeIntegrityRecord(const unsigned char* raw, IntegrityRecord* record)
{
    return DecodeRecordFields(raw, INTEGRITY_MAGIC, 16, record);
}

const char* IntegrityAlgorithmName(uint16_t algorithm)
{
    return algorithm == INTEGRITY_XXH3_128 ? "XXH3-128" : "unknown";
}

bool FindIntegrityRecord(FILE* file, uint64_t end, IntegrityRecord* record, uint64_t* offset)
{
    if (end < PAYLOAD_OFFSET + INTEGRITY_RECORD_SIZE)
        return false;
    // The last bytes before end: the record and whatever padding follows it.
    unsigned char tail[INTEGRITY_RECORD_SIZE + INTEGRITY_MAX_PADDING];
    size_t span = static_cast<size_t>(std::min<uint64_t>(sizeof tail, end - PAYLOAD_OFFSET));
    uint64_t start = end - span;
    if (SeekFile(file, start) != 0 || fread(tail, 1, span, file) != span)
        return false;
    for (size_t padding = 0; padding + INTEGRITY_RECORD_SIZE <= span; ++padding) {
        size_t at = span - padding - INTEGRITY_RECORD_SIZE;
        if (padding > 0 && tail[span - padding] != 0)
            break;  // padding is zeros only
        // The length field must name the record's own place: a stray magic
        // inside some entry's data does not.
        if (DecodeIntegrityRecord(tail + at, record) && record->length == start + at - PAYLOAD_OFFSET) {
            *offset = start + at;
            return true;
        }
    }
    return false;
}

bool FindCertificateTable(FILE* file, uint64_t* offset, uint64_t* size)
{
    PeHeaders headers;
    if (!ReadPeHeaders(file, &headers) || headers.directoryCount <= PE_DIRECTORY_SECURITY)
        return false;
    const PeDirectory& table = headers.directories[PE_DIRECTORY_SECURITY];
    if (table.address == 0 || table.size == 0)
        return false;
    *offset = table.address;
    *size = table.size;
    return true;
}

PayloadError OpenPayload(PayloadReader* reader, const char* path)
{
    *reader = PayloadReader();
    reader->file = fopen(path, "rb");
    if (reader->file == nullptr)
        return reader->error = PayloadError::CannotOpenLauncher;
    // Data is read in large blocks straight into the caller's buffer; a stream
    // buffer would only add a copy and split each block into three reads.
    setvbuf(reader->file, nullptr, _IONBF, 0);
    if (FindCertificateTable(reader->file, &reader->certOffset, &reader->certSize) &&
        reader->certOffset >= PAYLOAD_OFFSET)
        reader->limit = reader->certOffset;
    uint64_t fileEnd = 0;
    if (!FileEnd(reader->file, &fileEnd)) {
        fclose(reader->file);
        reader->file = nullptr;
        return reader->error = PayloadError::ReadFailed;
    }
    // A compressed archive is found through its end record, before a
    // certificate table wherever that starts. One that cannot be read says so
    // at the first NextPayloadEntry.
    uint64_t certEnd = reader->certSize != 0 && reader->certOffset <= fileEnd ? reader->certOffset : fileEnd;
    if (OpenCompressedArchive(reader, certEnd))
        return PayloadError::Ok;
    reader->end = std::min(fileEnd, reader->limit);
    // One small read at the end says whether there is a record to verify.
    if (FindIntegrityRecord(reader->file, reader->end, &reader->record, &reader->recordOffset)) {
        reader->limit = reader->end = reader->recordOffset;
        reader->integrity = IntegrityState::Unsupported;
        if (reader->record.version == INTEGRITY_VERSION && reader->record.algorithm == INTEGRITY_XXH3_128) {
            reader->digest = new (std::nothrow) ArchiveDigest();
            reader->integrity = IntegrityState::Pending;
            if (reader->digest == nullptr || !reader->digest->Valid()) {  // no memory for it: read unverified
                delete reader->digest;
                reader->digest = nullptr;
                reader->integrity = IntegrityState::Unsupported;
            }
        }
    }
    // A file shorter than PAYLOAD_OFFSET simply holds an empty archive: the
    // first header read comes back short.
    if (SeekFile(reader->file, PAYLOAD_OFFSET) != 0) {
        fclose(reader->file);
        reader->file = nullptr;
        return reader->error = PayloadError::ReadFailed;
    }
    reader->pos = PAYLOAD_OFFSET;
    return PayloadError::Ok;
}

// Reads exactly count bytes unless the file ends, never past the limit.
size_t ReadArchiveBytes(PayloadReader* reader, void* buffer, size_t count)
{
    uint64_t room = reader->limit > reader->pos ? reader->limit - reader->pos : 0;
    if (count > room)
        count = static_cast<size_t>(room);
    size_t got = count == 0 ? 0 : fread(buffer, 1, count, reader->file);
    reader->pos += got;
    if (reader->digest != nullptr)
        reader->digest->Update(buffer, got);
    if (got < count && ferror(reader->file))
        reader->error = PayloadError::ReadFailed;
    return got;
}

// At the archive's end: every byte up to the record has passed the digest.
void ConcludeIntegrity(PayloadReader* reader)
{
    if (reader->integrity != IntegrityState::Pending)
        return;
    unsigned char digest[DIGEST_SIZE];
    reader->digest->Final(digest);
    bool match = reader->digest->Valid() && reader->entries == reader->record.entries &&
                 memcmp(digest, reader->record.digest, DIGEST_SIZE) == 0;
    delete reader->digest;
    reader->digest = nullptr;
    reader->integrity = match ? IntegrityState::Verified : IntegrityState::Mismatch;
    if (!match)
        reader->error = PayloadError::IntegrityMismatch;
}

bool NextPayloadEntry(PayloadReader* reader, PayloadEntryHeader* header)
{
    if (reader->file == nullptr || reader->error != PayloadError::Ok)
        return false;
    if (reader->compressed != nullptr)
        return NextCompressedEntry(reader, header);
    if (reader->digest == nullptr && reader->remaining > 0) {
        // Nothing to verify: skip the data unread. Data cut short by the
        // file's end shows here as it would when read.
        uint64_t next = reader->pos + reader->remaining;
        if (next > reader->end) {
            reader->pos = std::max(reader->pos, reader->end);
            reader->remaining = 0;
            reader->error = PayloadError::TruncatedData;
            return false;
        }
        if (SeekFile(reader->file, next) != 0) {
            reader->error = PayloadError::ReadFailed;
            return false;
        }
        reader->pos = next;
        reader->remaining = 0;
    }
    unsigned char scratch[4096];
    while (reader->remaining > 0) {
        size_t want = reader->remaining < sizeof scratch ? reader->remaining : sizeof scratch;
        if (ReadPayloadData(reader, scratch, want) == 0)
            return false;
    }
    unsigned char raw[ENTRY_HEADER_SIZE];
    size_t got = ReadArchiveBytes(reader, raw, sizeof raw);
    if (got < sizeof raw) {
        // Fewer than 132 bytes left: the end of the archive. Whatever stands
        // there (a packer's slack, a signing tool's padding) is not an entry.
        if (reader->error == PayloadError::Ok) {
            reader->trailing = got;
            ConcludeIntegrity(reader);
        }
        return false;
    }
    ++reader->entries;
    reader->headerOffset = reader->pos - ENTRY_HEADER_SIZE;
    PayloadError decoded = DecodeEntryHeader(raw, header);
    if (decoded != PayloadError::Ok) {
        reader->error = decoded;
        return false;
    }
    reader->remaining = header->size;
    if (!IsSafeEntryName(header->name)) {
        reader->error = PayloadError::UnsafeName;
        return false;
    }
    return true;
}

size_t ReadPayloadData(PayloadReader* reader, void* buffer, size_t capacity)
{
    if (reader->compressed != nullptr)
        return ReadCompressedData(reader, buffer, capacity);
    if (reader->remaining == 0 || reader->error != PayloadError::Ok)
        return 0;
    size_t want = capacity < reader->remaining ? capacity : reader->remaining;
    size_t got = ReadArchiveBytes(reader, buffer, want);
    reader->remaining -= static_cast<uint32_t>(got);
    if (got < want && reader->error == PayloadError::Ok)
        reader->error = PayloadError::TruncatedData;
    return got;
}

void ClosePayload(PayloadReader* reader)
{
    if (reader->file != nullptr)
        fclose(reader->file);
    reader->file = nullptr;
    delete reader->digest;
    reader->digest = nullptr;
    CloseCompressedArchive(reader);
}
