#include "lzma_heap.h"

#include <cstdlib>

void* LzmaHeapAlloc(void*, size_t size)
{
    return malloc(size);
}

void LzmaHeapFree(void*, void* address)
{
    free(address);
}

ISzAlloc g_lzmaHeap = {LzmaHeapAlloc, LzmaHeapFree};
