#include "pe_headers.h"

#include <algorithm>
#include <cstring>

#include "byte_order.h"
#include "platform.h"

namespace {

const size_t DOS_HEADER_SIZE = 64;
const size_t NT_POINTER_AT = 0x3C;
const size_t FILE_HEADER_SIZE = 20;          // after the 4-byte signature
const size_t OPTIONAL_AT = 4 + FILE_HEADER_SIZE;
const size_t MACHINE_AT = 4;
const size_t SECTION_COUNT_AT = 4 + 2;
const size_t OPTIONAL_SIZE_AT = 4 + 16;
const size_t SIZE_OF_HEADERS_AT = 60;        // in the optional header, PE32 and PE32+
const size_t MAX_OPTIONAL_READ = 112 + 16 * 8;  // PE32+ up to the last directory

// nt: the bytes from the signature on, available of them.
bool ParseNtHeaders(const unsigned char* nt, size_t available, uint32_t ntOffset, PeHeaders* headers)
{
    *headers = PeHeaders();
    if (available < OPTIONAL_AT || memcmp(nt, "PE\0\0", 4) != 0)
        return false;
    headers->ntOffset = ntOffset;
    headers->machine = ReadLE16(nt + MACHINE_AT);
    headers->sectionCount = ReadLE16(nt + SECTION_COUNT_AT);
    headers->optionalSize = ReadLE16(nt + OPTIONAL_SIZE_AT);
    headers->sectionTable = static_cast<uint64_t>(ntOffset) + OPTIONAL_AT + headers->optionalSize;
    // Only what both the optional header and the bytes at hand hold.
    size_t optional = std::min<size_t>(headers->optionalSize, available - OPTIONAL_AT);
    const unsigned char* opt = nt + OPTIONAL_AT;
    if (optional < 2)
        return true;
    headers->magic = ReadLE16(opt);
    if (optional >= SIZE_OF_HEADERS_AT + 4)
        headers->sizeOfHeaders = ReadLE32(opt + SIZE_OF_HEADERS_AT);
    size_t countAt = headers->magic == PE32_MAGIC ? 92 : headers->magic == PE32_PLUS_MAGIC ? 108 : 0;
    if (countAt == 0 || optional < countAt + 4)
        return true;
    size_t held = (optional - countAt - 4) / 8;
    headers->directoryCount = static_cast<uint32_t>(std::min<size_t>({ReadLE32(opt + countAt), held, 16}));
    for (uint32_t i = 0; i < headers->directoryCount; ++i) {
        headers->directories[i].address = ReadLE32(opt + countAt + 4 + i * 8);
        headers->directories[i].size = ReadLE32(opt + countAt + 8 + i * 8);
    }
    return true;
}

}  // namespace

bool ParsePeHeaders(const unsigned char* bytes, size_t size, PeHeaders* headers)
{
    if (size < DOS_HEADER_SIZE || bytes[0] != 'M' || bytes[1] != 'Z')
        return false;
    uint32_t nt = ReadLE32(bytes + NT_POINTER_AT);
    return nt <= size && ParseNtHeaders(bytes + nt, size - nt, nt, headers);
}

bool ReadPeHeaders(FILE* file, PeHeaders* headers)
{
    unsigned char dos[DOS_HEADER_SIZE];
    if (SeekFile(file, 0) != 0 || fread(dos, 1, sizeof dos, file) != sizeof dos || dos[0] != 'M' ||
        dos[1] != 'Z')
        return false;
    uint32_t nt = ReadLE32(dos + NT_POINTER_AT);
    unsigned char head[OPTIONAL_AT + MAX_OPTIONAL_READ];
    if (SeekFile(file, nt) != 0)
        return false;
    size_t got = fread(head, 1, sizeof head, file);
    return ParseNtHeaders(head, got, nt, headers);
}

bool FindImageEnd(FILE* file, uint64_t* end)
{
    PeHeaders headers;
    if (!ReadPeHeaders(file, &headers) || headers.sectionCount > PE_MAX_SECTIONS || headers.sizeOfHeaders == 0)
        return false;
    uint64_t last = headers.sizeOfHeaders;
    if (SeekFile(file, headers.sectionTable) != 0)
        return false;
    for (unsigned i = 0; i < headers.sectionCount; ++i) {
        unsigned char section[PE_SECTION_HEADER_SIZE];
        if (fread(section, 1, sizeof section, file) != sizeof section)
            return false;
        uint32_t rawSize = ReadLE32(section + PE_SECTION_RAW_SIZE_AT);
        uint64_t rawEnd = static_cast<uint64_t>(ReadLE32(section + PE_SECTION_RAW_POINTER_AT)) + rawSize;
        if (rawSize != 0 && rawEnd > last)
            last = rawEnd;
    }
    *end = last;
    return true;
}
