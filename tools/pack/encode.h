// Compressing the payload: every entry's file, read once, through the LZMA
// encoder into one solid stream in a temporary file, checked on a second
// thread as it is made (stream_check.h).
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "compressed.h"
#include "pack.h"

// What the encoder made: the stream's properties and size, and each entry's
// filter and packed bytes.
struct EncodedStream {
    unsigned char properties[LZMA_PROPERTIES_SIZE] = {};
    uint64_t size = 0;
    std::vector<uint8_t> filters;  // as each entry's first bytes decided (IsX86Image)
    std::vector<uint32_t> packed;  // where the check decoder found each entry's bytes to end
};

// Compresses the items, total bytes in all, into temp. The stream must decode
// back to exactly the payload as it was read, or CompressionFailed.
PackError EncodeStream(const PackRequest& request, const std::vector<PackItem>& items, uint64_t total, FILE* temp,
                       EncodedStream* stream, PackResult* result);
