// The compressed archive (compressed.h): its records, then its reader. Long
// because the reader is most of it, and the records it checks are best read
// beside it.
#include "compressed.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "archive_input.h"
#include "byte_order.h"
#include "digest.h"
#include "lzma_stream.h"
#include "platform.h"

namespace {

const unsigned char BARRIER_MARK[] = {'Q', 'V', 'B', 'A', 'R', 'R', 'I', 'E', 'R'};

bool AllZero(const unsigned char* bytes, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        if (bytes[i] != 0)
            return false;
    return true;
}

}  // namespace

void EncodeCompressedHeader(const CompressedHeader& header, unsigned char* raw)
{
    memset(raw, 0, COMPRESSED_HEADER_SIZE);
    memcpy(raw, COMPRESSED_MAGIC, sizeof COMPRESSED_MAGIC);
    WriteLE16(raw + 8, header.version);
    WriteLE16(raw + 10, header.codec);
    WriteLE32(raw + 12, header.entries);
    memcpy(raw + 16, header.properties, LZMA_PROPERTIES_SIZE);
    WriteLE64(raw + 24, header.unpacked);
}

bool DecodeCompressedHeader(const unsigned char* raw, CompressedHeader* header)
{
    if (memcmp(raw, COMPRESSED_MAGIC, sizeof COMPRESSED_MAGIC) != 0 || !AllZero(raw + 21, 3))
        return false;
    header->version = ReadLE16(raw + 8);
    header->codec = ReadLE16(raw + 10);
    header->entries = ReadLE32(raw + 12);
    memcpy(header->properties, raw + 16, LZMA_PROPERTIES_SIZE);
    header->unpacked = ReadLE64(raw + 24);
    return true;
}

void EncodeCompressedEntry(const CompressedEntry& entry, unsigned char* raw)
{
    memset(raw, 0, COMPRESSED_ENTRY_SIZE);
    memcpy(raw, entry.name, strnlen(entry.name, ENTRY_NAME_SIZE - 1));
    WriteLE32(raw + 128, entry.unpacked);
    WriteLE32(raw + 132, entry.packed);
    raw[136] = entry.method;
    raw[137] = entry.filter;
}

PayloadError DecodeCompressedEntry(const unsigned char* raw, CompressedEntry* entry)
{
    if (memchr(raw, '\0', ENTRY_NAME_SIZE) == nullptr)
        return PayloadError::NameWithoutNul;
    memcpy(entry->name, raw, ENTRY_NAME_SIZE);
    entry->unpacked = ReadLE32(raw + 128);
    entry->packed = ReadLE32(raw + 132);
    entry->method = raw[136];
    entry->filter = raw[137];
    return AllZero(raw + 138, 2) ? PayloadError::Ok : PayloadError::UnknownArchive;
}

void EncodeEndRecord(const IntegrityRecord& record, uint64_t start, unsigned char* raw)
{
    memset(raw, 0, END_RECORD_SIZE);
    EncodeRecordFields(END_RECORD_MAGIC, record, 24, raw);
    WriteLE64(raw + 16, start);
}

bool DecodeEndRecord(const unsigned char* raw, IntegrityRecord* record, uint64_t* start)
{
    if (!DecodeRecordFields(raw, END_RECORD_MAGIC, 24, record))
        return false;
    *start = ReadLE64(raw + 16);
    return true;
}

void MakeBarrier(unsigned char* raw)
{
    // An empty name: every stored reader refuses the entry and stops there.
    memset(raw, 0, BARRIER_SIZE);
    memcpy(raw + 1, BARRIER_MARK, sizeof BARRIER_MARK);
}

uint64_t BarrierOffset(uint64_t start, uint64_t recordOffset, bool* sound)
{
    *sound = true;
    if (start > PAYLOAD_OFFSET || recordOffset + END_RECORD_SIZE < PAYLOAD_OFFSET)
        return 0;
    *sound = recordOffset >= PAYLOAD_OFFSET + BARRIER_SIZE;
    return PAYLOAD_OFFSET;
}

bool FindEndRecord(FILE* file, uint64_t end, IntegrityRecord* record, uint64_t* start, uint64_t* offset)
{
    unsigned char tail[END_RECORD_SIZE + INTEGRITY_MAX_PADDING];
    size_t span = static_cast<size_t>(std::min<uint64_t>(sizeof tail, end));
    if (span < END_RECORD_SIZE)
        return false;
    uint64_t from = end - span;
    if (SeekFile(file, from) != 0 || fread(tail, 1, span, file) != span)
        return false;
    for (size_t padding = 0; padding + END_RECORD_SIZE <= span; ++padding) {
        size_t at = span - padding - END_RECORD_SIZE;
        if (padding > 0 && tail[span - padding] != 0)
            break;  // padding is zeros only
        // Start and length must name the record's own place, and leave room
        // for an archive header: a stray magic in some entry's data does not.
        if (DecodeEndRecord(tail + at, record, start) && *start <= from + at &&
            record->length == from + at - *start && record->length >= COMPRESSED_HEADER_SIZE) {
            *offset = from + at;
            return true;
        }
    }
    return false;
}

struct CompressedReader {
    CompressedHeader header;
    uint64_t barrier = 0;     // file offset of the barrier, 0 when there is none
    bool barrierPassed = false;
    unsigned begun = 0;       // entries whose header has been read
    uint64_t unpacked = 0;    // their unpacked sizes, summed
    uint32_t packedLeft = 0;  // bytes of the current entry's data not yet read from the file
    bool inEntry = false;     // an entry is begun and not yet concluded
    LzmaStream stream;
};

namespace {

PayloadError Fail(PayloadReader* reader, PayloadError error)
{
    if (reader->error == PayloadError::Ok)
        reader->error = error;
    return reader->error;
}

// Steps over the barrier when the reader stands at it: its bytes are checked,
// and pass the digest as every archive byte does.
bool PassBarrier(PayloadReader* reader)
{
    CompressedReader* c = reader->compressed;
    if (c->barrier == 0 || c->barrierPassed || reader->pos != c->barrier)
        return true;
    unsigned char raw[BARRIER_SIZE], expected[BARRIER_SIZE];
    MakeBarrier(expected);
    if (ReadArchiveBytes(reader, raw, sizeof raw) != sizeof raw) {
        Fail(reader, PayloadError::TruncatedData);
        return false;
    }
    if (memcmp(raw, expected, sizeof raw) != 0) {
        Fail(reader, PayloadError::DamagedArchive);
        return false;
    }
    c->barrierPassed = true;
    return true;
}

// Reads count archive bytes, stepping over the barrier. Returns the bytes
// read; fewer when the archive ends first or the file cannot be read
// (reader->error says which).
size_t ReadArchive(PayloadReader* reader, void* buffer, size_t count)
{
    CompressedReader* c = reader->compressed;
    unsigned char* out = static_cast<unsigned char*>(buffer);
    size_t got = 0;
    while (got < count) {
        if (!PassBarrier(reader))
            return got;
        size_t want = count - got;
        if (c->barrier != 0 && !c->barrierPassed && c->barrier - reader->pos < want)
            want = static_cast<size_t>(c->barrier - reader->pos);
        size_t n = ReadArchiveBytes(reader, out + got, want);
        got += n;
        if (n < want) {
            Fail(reader, PayloadError::TruncatedData);  // unless the read failed first
            return got;
        }
    }
    return got;
}

// The stream's input for the current entry: its packed bytes and no more.
size_t EntryInput(void* context, unsigned char* buffer, size_t capacity)
{
    PayloadReader* reader = static_cast<PayloadReader*>(context);
    CompressedReader* c = reader->compressed;
    size_t want = std::min<size_t>(capacity, c->packedLeft);
    if (want == 0 || reader->error != PayloadError::Ok)
        return 0;
    size_t got = ReadArchive(reader, buffer, want);
    c->packedLeft -= static_cast<uint32_t>(got);
    return got;
}

// At an entry's end the decoder must have taken exactly its packed bytes.
bool ConcludeEntry(PayloadReader* reader)
{
    CompressedReader* c = reader->compressed;
    c->inEntry = false;
    if (c->packedLeft != 0 || c->stream.Buffered() != 0) {
        Fail(reader, PayloadError::DamagedArchive);
        return false;
    }
    return true;
}

// After the last entry: zero padding up to the barrier, the stream's end, the
// sums, then the integrity record.
void ConcludeArchive(PayloadReader* reader)
{
    CompressedReader* c = reader->compressed;
    uint64_t rest = reader->limit - reader->pos;
    if (c->barrier != 0 && !c->barrierPassed)
        rest = rest >= BARRIER_SIZE ? rest - BARRIER_SIZE : MAX_BARRIER_PADDING + 1;
    unsigned char padding[MAX_BARRIER_PADDING];
    if (rest > MAX_BARRIER_PADDING) {
        Fail(reader, PayloadError::DamagedArchive);
        return;
    }
    if (ReadArchive(reader, padding, static_cast<size_t>(rest)) != rest || !PassBarrier(reader))
        return;
    if (!AllZero(padding, static_cast<size_t>(rest)) || (c->barrier != 0 && !c->barrierPassed) ||
        c->unpacked != c->header.unpacked || (c->header.unpacked > 0 && !c->stream.AtStreamEnd())) {
        Fail(reader, PayloadError::DamagedArchive);
        return;
    }
    reader->trailing = rest;
    ConcludeIntegrity(reader);
}

}  // namespace

bool OpenCompressedArchive(PayloadReader* reader, uint64_t end)
{
    IntegrityRecord record;
    uint64_t start = 0, offset = 0;
    if (!FindEndRecord(reader->file, end, &record, &start, &offset))
        return false;
    reader->record = record;
    reader->recordOffset = offset;
    reader->start = start;
    reader->limit = reader->end = offset;
    reader->integrity = IntegrityState::Unsupported;
    reader->compressed = new (std::nothrow) CompressedReader;
    if (reader->compressed == nullptr) {
        Fail(reader, PayloadError::OutOfMemory);
        return true;
    }
    CompressedReader* c = reader->compressed;
    bool sound = true;
    c->barrier = BarrierOffset(start, offset, &sound);
    if (record.version != END_RECORD_VERSION || record.algorithm != INTEGRITY_XXH3_128 || !sound) {
        Fail(reader, PayloadError::UnknownArchive);
        return true;
    }
    // Every byte of it passes the digest, so the record is concluded in the
    // same pass that stages.
    if (!StartIntegrity(reader)) {
        Fail(reader, PayloadError::OutOfMemory);
        return true;
    }
    if (SeekFile(reader->file, start) != 0) {
        Fail(reader, PayloadError::ReadFailed);
        return true;
    }
    reader->pos = start;
    unsigned char raw[COMPRESSED_HEADER_SIZE];
    if (ReadArchive(reader, raw, sizeof raw) != sizeof raw)
        return true;
    if (!DecodeCompressedHeader(raw, &c->header) || c->header.version != COMPRESSED_VERSION ||
        c->header.codec != COMPRESSED_CODEC_LZMA) {
        Fail(reader, PayloadError::UnknownArchive);
        return true;
    }
    // Each entry takes at least its header: a count the archive cannot hold
    // is refused before anything is allocated for it.
    if (c->header.entries > (offset - start - COMPRESSED_HEADER_SIZE) / COMPRESSED_ENTRY_SIZE ||
        c->header.unpacked > static_cast<uint64_t>(c->header.entries) * UINT32_MAX) {
        Fail(reader, PayloadError::DamagedArchive);
        return true;
    }
    PayloadError opened = c->stream.Open(c->header.properties, c->header.unpacked);
    if (opened != PayloadError::Ok)
        Fail(reader, opened);
    return true;
}

bool NextCompressedEntry(PayloadReader* reader, PayloadEntryHeader* header)
{
    CompressedReader* c = reader->compressed;
    if (reader->error != PayloadError::Ok)
        return false;
    if (c->inEntry) {
        // The stream is solid: data left unread is decoded, not skipped.
        unsigned char scratch[4096];
        while (ReadCompressedData(reader, scratch, sizeof scratch) > 0) {
        }
        if (reader->error != PayloadError::Ok)
            return false;
    }
    if (c->begun == c->header.entries) {
        ConcludeArchive(reader);
        return false;
    }
    unsigned char raw[COMPRESSED_ENTRY_SIZE];
    if (!PassBarrier(reader))
        return false;
    reader->headerOffset = reader->pos;
    if (ReadArchive(reader, raw, sizeof raw) != sizeof raw)
        return false;
    ++c->begun;
    ++reader->entries;
    CompressedEntry entry;
    PayloadError decoded = DecodeCompressedEntry(raw, &entry);
    if (decoded != PayloadError::Ok) {
        Fail(reader, decoded);
        return false;
    }
    memcpy(header->name, entry.name, ENTRY_NAME_SIZE);
    header->size = entry.unpacked;
    header->packedSize = entry.packed;
    header->method = entry.method;
    header->filter = entry.filter;
    if (entry.method != ENTRY_METHOD_LZMA || entry.filter > ENTRY_FILTER_X86) {
        Fail(reader, PayloadError::UnknownArchive);
        return false;
    }
    c->unpacked += entry.unpacked;
    // An empty entry takes nothing from the stream.
    if (c->unpacked > c->header.unpacked || (entry.unpacked == 0 && entry.packed != 0)) {
        Fail(reader, PayloadError::DamagedArchive);
        return false;
    }
    if (!IsSafeEntryName(header->name)) {
        Fail(reader, PayloadError::UnsafeName);
        return false;
    }
    reader->remaining = entry.unpacked;
    c->packedLeft = entry.packed;
    c->inEntry = true;
    c->stream.BeginEntry(entry.unpacked, entry.filter == ENTRY_FILTER_X86);
    if (entry.unpacked == 0)
        return ConcludeEntry(reader);
    return true;
}

size_t ReadCompressedData(PayloadReader* reader, void* buffer, size_t capacity)
{
    CompressedReader* c = reader->compressed;
    if (!c->inEntry || reader->error != PayloadError::Ok)
        return 0;
    size_t got = c->stream.Read(static_cast<unsigned char*>(buffer), capacity, EntryInput, reader);
    if (c->stream.Error() != PayloadError::Ok) {
        // Input that ran out is the file's fault when the reader saw why.
        Fail(reader, c->stream.Error());
        c->inEntry = false;
        return 0;
    }
    reader->remaining -= static_cast<uint32_t>(got);
    if (c->stream.EntryComplete()) {
        if (!ConcludeEntry(reader))
            return 0;
    } else if (got == 0) {
        Fail(reader, PayloadError::DamagedArchive);  // nothing more, and the entry not whole
        c->inEntry = false;
    }
    return got;
}

const CompressedHeader* CompressedArchiveHeader(const PayloadReader* reader)
{
    return reader->compressed != nullptr ? &reader->compressed->header : nullptr;
}

void CloseCompressedArchive(PayloadReader* reader)
{
    delete reader->compressed;
    reader->compressed = nullptr;
}
