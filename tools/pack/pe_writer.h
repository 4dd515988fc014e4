// Laying a PE image out again around a new resource section: the packer's
// side of the PE format, built on the one header reader (payload/pe_headers).
//
// The resource section is written whole. A section after it moves with it,
// and only .reloc may be there: mingw's linker puts it last, and nothing but
// the base-relocation directory entry refers to where it lies. Every derived
// field is then fixed: the section table, the resource and base-relocation
// directory entries, SizeOfImage, SizeOfInitializedData and the checksum.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "brand_error.h"
#include "byte_io.h"
#include "pe_headers.h"

struct PeSection {
    std::string name;  // up to 8 bytes, trailing NULs dropped
    uint32_t virtualSize = 0;
    uint32_t virtualAddress = 0;
    uint32_t rawSize = 0;
    uint32_t rawPointer = 0;
    uint32_t characteristics = 0;
};

// Where things are in an image, from its headers and section table.
struct PeLayout {
    PeHeaders headers;
    uint64_t optionalAt = 0;     // file offset of the optional header
    uint64_t directoriesAt = 0;  // of its first data directory
    uint32_t fileAlignment = 0;
    uint32_t sectionAlignment = 0;
    std::vector<PeSection> sections;
    uint64_t imageEnd = 0;       // end of the last section's raw data, or of the headers
    int resourceSection = -1;    // the section the resource directory starts, or -1
};

// Reads the layout of the image at the start of bytes (a launcher's filler and
// archive may follow it). False when it is not a PE32 or PE32+ image whose
// section table lies inside bytes.
bool ReadPeLayout(ByteView bytes, PeLayout* layout);

// The resource section's raw data and its virtual address. False when the
// image has no resource directory at the start of a section.
bool FindResourceSection(ByteView bytes, const PeLayout& layout, ByteView* section, uint32_t* rva);

// Whether the stub (the whole file) can be laid out again: no certificate
// table, nothing after its last section, its resources a section of their
// own with at most .reloc after it, and no data directory other than the
// base relocations pointing there. Fails with StubSigned, StubTrailingData,
// StubDamaged or StubLayout, saying why in *detail.
BrandError CheckRewritable(ByteView stub, const PeLayout& layout, std::string* detail);

// The stub laid out again with resources (written for the resource section's
// unchanged virtual address) as its resource section; *out is the whole new
// file. Fails with ImageTooLarge when it would be longer than the payload offset.
BrandError ReplaceResourceSection(ByteView stub, const PeLayout& layout, const ByteBuffer& resources,
                                  ByteBuffer* out, std::string* detail);

// The PE checksum of an image, its own checksum field counted as zero.
uint32_t PeChecksum(ByteView image, uint64_t checksumAt);
// Where the checksum field lies.
uint64_t PeChecksumOffset(const PeLayout& layout);
