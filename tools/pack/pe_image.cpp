#include "pe_image.h"

#include "byte_order.h"
#include "pe_headers.h"
#include "platform.h"

namespace {

const size_t RAW_SIZE_AT = 16;               // in a section header
const size_t RAW_POINTER_AT = 20;

}  // namespace

bool HasPeSignatures(const unsigned char* bytes, size_t size)
{
    PeHeaders headers;
    return ParsePeHeaders(bytes, size, &headers);
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
        uint32_t rawSize = ReadLE32(section + RAW_SIZE_AT);
        uint64_t rawEnd = static_cast<uint64_t>(ReadLE32(section + RAW_POINTER_AT)) + rawSize;
        if (rawSize != 0 && rawEnd > last)
            last = rawEnd;
    }
    *end = last;
    return true;
}

namespace {

const char LAUNCHER_INTERNAL_NAME[] = "Quorvane";

const size_t VIRTUAL_ADDRESS_AT = 12;                    // in a section header
const uint32_t RT_VERSION_ID = 16;
const uint32_t SUBDIRECTORY_BIT = 0x80000000u;
const unsigned MAX_VERSION_DEPTH = 4;                    // VS_VERSIONINFO, StringFileInfo, table, string

// Where the data at a virtual address lies in the file, through the section
// table. False when no section's raw data holds count bytes from there.
bool RvaToOffset(ByteView image, uint64_t table, unsigned sections, uint32_t rva, uint32_t count,
                 uint64_t* offset)
{
    for (unsigned i = 0; i < sections; ++i) {
        uint64_t section = table + static_cast<uint64_t>(i) * PE_SECTION_HEADER_SIZE;
        if (!image.Has(section, PE_SECTION_HEADER_SIZE))
            return false;
        uint32_t address = image.U32(section + VIRTUAL_ADDRESS_AT);
        uint32_t rawSize = image.U32(section + RAW_SIZE_AT);
        if (rva < address || static_cast<uint64_t>(rva) - address + count > rawSize)
            continue;
        *offset = image.U32(section + RAW_POINTER_AT) + static_cast<uint64_t>(rva - address);
        return image.Has(*offset, count);
    }
    return false;
}

// The first entry of a resource directory whose id matches (any id when
// wanted is 0); returns its offset field, or 0.
uint32_t FindResourceEntry(ByteView image, uint64_t root, uint64_t directory, uint32_t wanted)
{
    const size_t ENTRIES_AT = 16, NAMED_COUNT_AT = 12, ID_COUNT_AT = 14, ENTRY_SIZE = 8;
    uint32_t named = image.U16(root + directory + NAMED_COUNT_AT);
    uint32_t ids = image.U16(root + directory + ID_COUNT_AT);
    // Named entries come first; a version block is always filed under an id.
    for (uint32_t i = named; i < named + ids; ++i) {
        uint64_t entry = root + directory + ENTRIES_AT + static_cast<uint64_t>(i) * ENTRY_SIZE;
        if (!image.Has(entry, ENTRY_SIZE))
            return 0;
        if (wanted == 0 || image.U32(entry) == wanted)
            return image.U32(entry + 4);
    }
    return 0;
}

// One node of a version block: length, value length, type, a UTF-16 key,
// padding to 4 bytes, the value, padding, then child nodes up to the length.
// Padding counts from the block's start (base).
bool FindVersionNode(ByteView image, uint64_t base, uint64_t node, uint64_t end, const char* key,
                     unsigned depth, std::string* value)
{
    auto align = [base](uint64_t at) { return base + ((at - base + 3) & ~uint64_t(3)); };
    uint16_t length = image.U16(node);
    uint16_t valueLength = image.U16(node + 2);
    bool text = image.U16(node + 4) == 1;
    if (length < 6 || node + length > end || depth > MAX_VERSION_DEPTH)
        return false;
    end = node + length;
    uint64_t at = node + 6;
    bool matches = true;
    size_t k = 0;
    for (;; at += 2, ++k) {
        if (at + 2 > end)
            return false;
        uint16_t c = image.U16(at);
        if (c == 0)
            break;
        matches = matches && key[k] != '\0' && c == static_cast<unsigned char>(key[k]);
    }
    matches = matches && key[k] == '\0';
    at = align(at + 2);
    uint64_t valueBytes = text ? uint64_t(valueLength) * 2 : valueLength;
    if (matches && text) {
        value->clear();
        for (uint64_t i = 0; i + 2 <= valueBytes && at + i + 2 <= end; i += 2) {
            uint16_t c = image.U16(at + i);
            if (c == 0)
                break;
            value->push_back(c < 0x80 ? static_cast<char>(c) : '?');
        }
        return true;
    }
    for (at = align(at + valueBytes); at + 6 <= end;) {
        uint16_t childLength = image.U16(at);
        if (childLength == 0)
            return false;
        if (FindVersionNode(image, base, at, end, key, depth + 1, value))
            return true;
        at = align(at + childLength);
    }
    return false;
}

}  // namespace

bool FindVersionString(const unsigned char* bytes, size_t size, const char* key, std::string* value)
{
    ByteView image(bytes, size);
    PeHeaders headers;
    if (!ParsePeHeaders(bytes, size, &headers) || headers.sectionCount > PE_MAX_SECTIONS ||
        headers.directoryCount <= PE_DIRECTORY_RESOURCE)
        return false;
    uint32_t rva = headers.directories[PE_DIRECTORY_RESOURCE].address;
    uint32_t rsrcSize = headers.directories[PE_DIRECTORY_RESOURCE].size;
    uint64_t table = headers.sectionTable;
    unsigned sections = headers.sectionCount;
    uint64_t root = 0;
    if (rva == 0 || !RvaToOffset(image, table, sections, rva, rsrcSize, &root))
        return false;
    // Three levels: type (RT_VERSION), name (any), language (any), then the data entry.
    uint32_t entry = FindResourceEntry(image, root, 0, RT_VERSION_ID);
    for (int level = 0; level < 2 && (entry & SUBDIRECTORY_BIT); ++level)
        entry = FindResourceEntry(image, root, entry & ~SUBDIRECTORY_BIT, 0);
    if (entry == 0 || (entry & SUBDIRECTORY_BIT))
        return false;
    uint32_t dataRva = image.U32(root + entry);
    uint32_t dataSize = image.U32(root + entry + 4);
    uint64_t data = 0;
    if (!RvaToOffset(image, table, sections, dataRva, dataSize, &data))
        return false;
    return FindVersionNode(image, data, data, data + dataSize, key, 0, value);
}

bool IsLauncherImage(const unsigned char* image, size_t size)
{
    std::string name;
    return FindVersionString(image, size, "InternalName", &name) && name == LAUNCHER_INTERNAL_NAME;
}
