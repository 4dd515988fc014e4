// The LZMA SDK's allocator interface over the C heap: the decoder's
// (lzma_stream.cpp) and the packer's encoder's, whose match finder also has
// an allocator of its own that frees with LzmaHeapFree.
#pragma once

#include <cstddef>

#include "Types.h"

void* LzmaHeapAlloc(void* self, size_t size);
void LzmaHeapFree(void* self, void* address);

extern ISzAlloc g_lzmaHeap;
