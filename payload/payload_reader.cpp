// The reader's verbs (archive.h): the launcher file opened, and each call
// handed to the stored or the compressed reader, whichever the file holds.
#include "archive.h"

#include <cstdlib>
#include <cstring>

#include "compressed.h"
#include "digest.h"
#include "pe_headers.h"
#include "platform.h"

// The names read so far, each as a 64-bit digest of its key (the name with
// ASCII letters in upper case: Windows ignores their case for every code
// page), in an open-addressed table that doubles as it fills. A digest is
// never 0, which marks a free slot. Two names that differ but share a digest
// would be taken for equal: about one archive in 10^13 of a million entries.
struct NameSet {
    uint64_t* slots = nullptr;
    size_t capacity = 0;  // a power of two, or 0
    size_t count = 0;
};

namespace {

// FNV-1a over the name's key. A byte from 0x81 up is taken for the first of
// a double-byte character and its second byte is kept as it is, so that a
// trail byte in the range of ASCII letters is not folded; in a single-byte
// code page that leaves the letter after such a byte unfolded, which can only
// let a pair of names through, never refuse a sound archive.
uint64_t NameKey(const char* name)
{
    uint64_t hash = 14695981039346656037ull;
    for (const unsigned char* c = reinterpret_cast<const unsigned char*>(name); *c != 0; ++c) {
        unsigned char byte = *c >= 'a' && *c <= 'z' ? static_cast<unsigned char>(*c - 'a' + 'A') : *c;
        hash = (hash ^ byte) * 1099511628211ull;
        if (*c >= 0x81 && c[1] != 0) {
            ++c;
            hash = (hash ^ *c) * 1099511628211ull;
        }
    }
    return hash | 1;
}

// Adds key; false when it was there already, or (with *full set) when there
// is no memory for it.
bool AddName(NameSet* set, uint64_t key, bool* full)
{
    if ((set->count + 1) * 2 > set->capacity) {
        size_t capacity = set->capacity == 0 ? 64 : set->capacity * 2;
        uint64_t* slots = static_cast<uint64_t*>(calloc(capacity, sizeof *slots));
        if (slots == nullptr) {
            *full = true;
            return false;
        }
        for (size_t i = 0; i < set->capacity; ++i) {
            if (set->slots[i] == 0)
                continue;
            size_t at = static_cast<size_t>(set->slots[i]) & (capacity - 1);
            while (slots[at] != 0)
                at = (at + 1) & (capacity - 1);
            slots[at] = set->slots[i];
        }
        free(set->slots);
        set->slots = slots;
        set->capacity = capacity;
    }
    size_t at = static_cast<size_t>(key) & (set->capacity - 1);
    while (set->slots[at] != 0) {
        if (set->slots[at] == key)
            return false;
        at = (at + 1) & (set->capacity - 1);
    }
    set->slots[at] = key;
    ++set->count;
    return true;
}

// Judges a name the reader has just read; false, with reader->error set,
// when it comes again or the reader cannot remember it.
bool RememberName(PayloadReader* reader, const char* name)
{
    if (reader->entries > MAX_ARCHIVE_ENTRIES) {
        reader->error = PayloadError::TooManyEntries;
        return false;
    }
    if (reader->names == nullptr)
        reader->names = static_cast<NameSet*>(calloc(1, sizeof(NameSet)));
    bool full = false;
    if (reader->names != nullptr && AddName(reader->names, NameKey(name), &full))
        return true;
    reader->error = reader->names == nullptr || full ? PayloadError::OutOfMemory : PayloadError::DuplicateName;
    return false;
}

// A compressed archive stands right after the image; one whose end record is
// missing has been cut short, and its entry headers are no stored archive.
bool CompressedCutShort(FILE* file, uint64_t* start)
{
    unsigned char magic[sizeof COMPRESSED_MAGIC];
    return FindImageEnd(file, start) && *start < PAYLOAD_OFFSET && SeekFile(file, *start) == 0 &&
           fread(magic, 1, sizeof magic, file) == sizeof magic && memcmp(magic, COMPRESSED_MAGIC, sizeof magic) == 0;
}

}  // namespace

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
    uint64_t start = 0;
    if (CompressedCutShort(reader->file, &start)) {
        reader->start = reader->pos = reader->end = start;
        reader->error = PayloadError::ArchiveCutShort;
        return PayloadError::Ok;
    }
    if (!OpenStoredArchive(reader, fileEnd)) {
        fclose(reader->file);
        reader->file = nullptr;
        return reader->error;
    }
    return PayloadError::Ok;
}

bool NextPayloadEntry(PayloadReader* reader, PayloadEntryHeader* header)
{
    if (reader->file == nullptr || reader->error != PayloadError::Ok)
        return false;
    bool read = reader->compressed != nullptr ? NextCompressedEntry(reader, header) : NextStoredEntry(reader, header);
    return read && RememberName(reader, header->name);
}

size_t ReadPayloadData(PayloadReader* reader, void* buffer, size_t capacity)
{
    return reader->compressed != nullptr ? ReadCompressedData(reader, buffer, capacity)
                                         : ReadStoredData(reader, buffer, capacity);
}

void ClosePayload(PayloadReader* reader)
{
    if (reader->file != nullptr)
        fclose(reader->file);
    reader->file = nullptr;
    delete reader->digest;
    reader->digest = nullptr;
    CloseCompressedArchive(reader);
    if (reader->names != nullptr)
        free(reader->names->slots);
    free(reader->names);
    reader->names = nullptr;
}
