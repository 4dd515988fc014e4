#include "archive.h"

#include <cstring>

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

uint32_t ReadLE32(const unsigned char* b)
{
    return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
           static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
}

void WriteLE32(unsigned char* b, uint32_t value)
{
    b[0] = static_cast<unsigned char>(value);
    b[1] = static_cast<unsigned char>(value >> 8);
    b[2] = static_cast<unsigned char>(value >> 16);
    b[3] = static_cast<unsigned char>(value >> 24);
}

uint16_t ReadLE16(const unsigned char* b)
{
    return static_cast<uint16_t>(b[0] | b[1] << 8);
}

PayloadError DecodeEntryHeader(const unsigned char* raw, PayloadEntryHeader* header)
{
    if (memchr(raw, '\0', ENTRY_NAME_SIZE) == nullptr)
        return PayloadError::NameWithoutNul;
    memcpy(header->name, raw, ENTRY_NAME_SIZE);
    header->size = ReadLE32(raw + ENTRY_SIZE_FIELD);
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
static size_t ReadBounded(PayloadReader* reader, void* buffer, size_t count)
{
    uint64_t room = reader->limit > reader->pos ? reader->limit - reader->pos : 0;
    if (count > room)
        count = static_cast<size_t>(room);
    size_t got = count == 0 ? 0 : fread(buffer, 1, count, reader->file);
    reader->pos += got;
    if (got < count && ferror(reader->file))
        reader->error = PayloadError::ReadFailed;
    return got;
}

bool NextPayloadEntry(PayloadReader* reader, PayloadEntryHeader* header)
{
    if (reader->file == nullptr || reader->error != PayloadError::Ok)
        return false;
    unsigned char scratch[4096];
    while (reader->remaining > 0) {
        size_t want = reader->remaining < sizeof scratch ? reader->remaining : sizeof scratch;
        if (ReadPayloadData(reader, scratch, want) == 0)
            return false;
    }
    unsigned char raw[ENTRY_HEADER_SIZE];
    size_t got = ReadBounded(reader, raw, sizeof raw);
    if (got < sizeof raw) {
        // Fewer than 132 bytes left: the end of the archive. Whatever stands
        // there (a packer's slack, a signing tool's padding) is not an entry.
        if (reader->error == PayloadError::Ok)
            reader->trailing = got;
        return false;
    }
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
    if (reader->remaining == 0 || reader->error != PayloadError::Ok)
        return 0;
    size_t want = capacity < reader->remaining ? capacity : reader->remaining;
    size_t got = ReadBounded(reader, buffer, want);
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
}
