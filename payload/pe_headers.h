// The PE header fields that the launcher and the packer read, parsed in one
// place: where the headers are, the section count, the optional header's kind
// and size, and its data directories. No help from the host system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

const size_t PE_DIRECTORY_RESOURCE = 2;
const size_t PE_DIRECTORY_SECURITY = 4;  // holds a file offset, not a virtual address
const uint16_t PE32_MAGIC = 0x10B;
const uint16_t PE32_PLUS_MAGIC = 0x20B;
const unsigned PE_MAX_SECTIONS = 96;     // the loader's own limit
const size_t PE_SECTION_HEADER_SIZE = 40;
// In a section header.
const size_t PE_SECTION_VIRTUAL_SIZE_AT = 8;
const size_t PE_SECTION_VIRTUAL_ADDRESS_AT = 12;
const size_t PE_SECTION_RAW_SIZE_AT = 16;
const size_t PE_SECTION_RAW_POINTER_AT = 20;
const uint16_t PE_MACHINE_I386 = 0x14C;
const uint16_t PE_MACHINE_AMD64 = 0x8664;

struct PeDirectory {
    uint32_t address = 0;
    uint32_t size = 0;
};

struct PeHeaders {
    uint32_t ntOffset = 0;        // of "PE\0\0", from the DOS header
    uint16_t machine = 0;         // the CPU the image is for
    unsigned sectionCount = 0;
    uint16_t optionalSize = 0;
    uint16_t magic = 0;           // PE32_MAGIC or PE32_PLUS_MAGIC; directories only for these
    uint32_t sizeOfHeaders = 0;   // 0 when the optional header is too short to hold it
    uint32_t directoryCount = 0;  // the directories the optional header really holds, at most 16
    PeDirectory directories[16];
    uint64_t sectionTable = 0;    // file offset of the first section header
};

// From an image held in memory, from its first byte. False unless it starts
// with "MZ" and holds "PE\0\0" and a file header where the DOS header points.
bool ParsePeHeaders(const unsigned char* bytes, size_t size, PeHeaders* headers);
// The same, read from a file.
bool ReadPeHeaders(FILE* file, PeHeaders* headers);
// The end of the image's last section's raw data (or of its headers, if
// larger), read from the section table. False when file is not a PE image.
bool FindImageEnd(FILE* file, uint64_t* end);
