#include "pe_image.h"

#include <cstring>

#include "archive.h"
#include "platform.h"

namespace {

const size_t DOS_HEADER_SIZE = 64;
const size_t PE_POINTER_AT = 0x3C;
const size_t FILE_HEADER_SIZE = 20;          // after the 4-byte signature
const size_t SECTION_COUNT_AT = 4 + 2;       // from the signature
const size_t OPTIONAL_SIZE_AT = 4 + 16;
const size_t SIZE_OF_HEADERS_AT = 60;        // in the optional header, PE32 and PE32+
const size_t SECTION_HEADER_SIZE = 40;
const size_t RAW_SIZE_AT = 16;               // in a section header
const size_t RAW_POINTER_AT = 20;
const unsigned MAX_SECTIONS = 96;            // the loader's own limit

uint16_t ReadLE16(const unsigned char* b)
{
    return static_cast<uint16_t>(b[0] | b[1] << 8);
}

}  // namespace

bool HasPeSignatures(const unsigned char* bytes, size_t size)
{
    if (size < DOS_HEADER_SIZE || bytes[0] != 'M' || bytes[1] != 'Z')
        return false;
    uint32_t pe = ReadLE32(bytes + PE_POINTER_AT);
    return pe <= size - 4 && memcmp(bytes + pe, "PE\0\0", 4) == 0;
}

bool FindImageEnd(FILE* file, uint64_t* end)
{
    unsigned char dos[DOS_HEADER_SIZE];
    if (SeekFile(file, 0) != 0 || fread(dos, 1, sizeof dos, file) != sizeof dos || dos[0] != 'M' ||
        dos[1] != 'Z')
        return false;
    uint32_t pe = ReadLE32(dos + PE_POINTER_AT);
    unsigned char head[4 + FILE_HEADER_SIZE + SIZE_OF_HEADERS_AT + 4];
    if (SeekFile(file, pe) != 0 || fread(head, 1, sizeof head, file) != sizeof head ||
        memcmp(head, "PE\0\0", 4) != 0)
        return false;
    unsigned sections = ReadLE16(head + SECTION_COUNT_AT);
    uint16_t optionalSize = ReadLE16(head + OPTIONAL_SIZE_AT);
    if (sections > MAX_SECTIONS || optionalSize < SIZE_OF_HEADERS_AT + 4)
        return false;
    uint64_t last = ReadLE32(head + 4 + FILE_HEADER_SIZE + SIZE_OF_HEADERS_AT);
    uint64_t table = static_cast<uint64_t>(pe) + 4 + FILE_HEADER_SIZE + optionalSize;
    if (SeekFile(file, table) != 0)
        return false;
    for (unsigned i = 0; i < sections; ++i) {
        unsigned char section[SECTION_HEADER_SIZE];
        if (fread(section, 1, sizeof section, file) != sizeof section)
            return false;
        uint32_t rawSize = ReadLE32(section + RAW_SIZE_AT);
        uint64_t rawEnd = static_cast<uint64_t>(ReadLE32(section + RAW_POINTER_AT)) + rawSize;
        if (rawSize != 0 && rawEnd > last)
            last = rawEnd;
    }
    *end = last;
    return true;
}
