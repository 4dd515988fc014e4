// Packing a compressed archive (payload/compressed.h): the entries' data as
// one solid LZMA stream, cut at each entry's end.
//
// The stream is first written to a temporary file beside the output
// (encode.h). As it is made it is decoded on a second thread with the
// launcher's own decoder (stream_check.h), which both proves that it gives
// back every byte of the payload and says where each entry's bytes end; last
// the archive is written: its header, each entry's header and bytes, a
// barrier where the archive reaches PAYLOAD_OFFSET, and the end record.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "pack.h"

// The encoder's settings, chosen by measurement (README, "Compressed
// launchers"): LZMA's optimal parsing with a binary-tree match finder over 4
// bytes, 64 fast bytes, searches cut at 32 candidates, lc 3, lp 0, pb 2, and
// a dictionary as large as the payload, at most LZMA_DICTIONARY_CAP.
uint32_t CompressionDictionary(uint64_t payloadSize);

// True when the stub's version block lists format (one word) under
// PAYLOAD_FORMATS_KEY (payload_formats.h).
bool StubListsFormat(const unsigned char* image, size_t size, const char* format);
// True when it lists the compressed archive's format.
bool StubReadsCompressed(const unsigned char* image, size_t size);

// True for a PE image of x86 or x86-64 code, judged from its first bytes:
// such entries go through the x86 branch filter.
bool IsX86Image(const unsigned char* bytes, size_t size);

// Writes the compressed archive of items into out, whose next byte lies at
// file offset start (the stub's end), and the end record after it.
PackError WriteCompressedArchive(const PackRequest& request, const std::vector<PackItem>& items, FILE* out,
                                 uint64_t start, PackResult* result);
