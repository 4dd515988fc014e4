// Writing a launcher file's bytes: the stub, then its archive.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "pack.h"

// Writes the stub into out, then the stored archive (filler up to
// PAYLOAD_OFFSET, each entry's header and bytes, the integrity record unless
// the request says otherwise) or the compressed one (compress.h). The stored
// layout's bytes are counted for progress against total.
PackError WriteLauncher(const PackRequest& request, const std::vector<unsigned char>& stub,
                        const std::vector<PackItem>& items, FILE* out, uint64_t total, PackResult* result);
