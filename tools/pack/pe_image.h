// Reading a PE image in the packer: its layout (headers and section table),
// where it ends, its resource section, and the strings of its version block,
// which tell our launcher and the archive formats it reads. Built on the one
// PE header reader (payload/pe_headers) and on the resource readers that
// branding uses (resource_tree, version_block). pe_writer lays an image out
// again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "byte_io.h"
#include "pe_headers.h"
#include "resource_tree.h"

// In the optional header, PE32 and PE32+ alike.
const size_t PE_CHECKSUM_AT = 64;

struct PeSection {
    std::string name;  // up to 8 bytes, trailing NULs dropped
    uint32_t virtualSize = 0;
    uint32_t virtualAddress = 0;
    uint32_t rawSize = 0;
    uint32_t rawPointer = 0;
    uint32_t characteristics = 0;

    // Its size in memory: the virtual size, or the raw size where that is 0.
    uint32_t VirtualExtent() const { return virtualSize != 0 ? virtualSize : rawSize; }
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

// The tree of the image's resource section, and the section's virtual
// address. False when there is none or it is damaged (why in *detail, when
// the tree is).
bool ReadImageResources(ByteView image, ResourceDirectory* root, uint32_t* rva, std::string* detail);

// "MZ" at the start, and "PE\0\0" and a whole file header where the DOS header points.
bool HasPeSignatures(const unsigned char* bytes, size_t size);
// The value of a string in the image's version block (InternalName,
// PayloadFormats...): in its resource section's tree, RT_VERSION's lowest
// numbered name and its lowest language, read as branding reads them. False
// when the image has no such block or no such string. Characters beyond
// ASCII come back as '?': the values compared are ASCII.
bool FindVersionString(const unsigned char* image, size_t size, const char* key, std::string* value);
// True for our launcher: its version block's InternalName is "Quorvane".
bool IsLauncherImage(const unsigned char* image, size_t size);
