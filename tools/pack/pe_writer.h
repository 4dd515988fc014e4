// Laying a PE image out again around a new resource section, from the
// layout pe_image reads.
//
// The resource section is written whole. A section after it moves with it,
// and only .reloc may be there: mingw's linker puts it last, and nothing but
// the base-relocation directory entry refers to where it lies. Every derived
// field is then fixed: the section table, the resource and base-relocation
// directory entries, SizeOfImage, SizeOfInitializedData and the checksum.
#pragma once

#include <cstdint>
#include <string>

#include "pack_error.h"
#include "byte_io.h"
#include "pe_image.h"

// Whether the stub (the whole file) can be laid out again: no certificate
// table, nothing after its last section, its resources a section of their
// own with at most .reloc after it, and no data directory other than the
// base relocations pointing there. Fails with StubSigned, StubTrailingData,
// StubDamaged or StubLayout, saying why in *detail.
PackError CheckRewritable(ByteView stub, const PeLayout& layout, std::string* detail);

// The stub laid out again with resources (written for the resource section's
// unchanged virtual address) as its resource section; *out is the whole new
// file. Fails with ImageTooLarge when it would be longer than the payload offset.
PackError ReplaceResourceSection(ByteView stub, const PeLayout& layout, const ByteBuffer& resources,
                                  ByteBuffer* out, std::string* detail);

// The PE checksum of an image, its own checksum field counted as zero.
uint32_t PeChecksum(ByteView image, uint64_t checksumAt);
// Where the checksum field lies.
uint64_t PeChecksumOffset(const PeLayout& layout);
