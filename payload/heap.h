// Blocks from the C heap, owned and freed by a unique_ptr. A short heap shows
// as a null pointer, which every caller checks: no exceptions are involved.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>

struct FreeDeleter {
    void operator()(void* p) const { free(p); }
};

template <typename T>
using HeapPtr = std::unique_ptr<T, FreeDeleter>;

// size bytes, uninitialised; null when the heap has none.
inline HeapPtr<unsigned char> HeapBlock(size_t size)
{
    return HeapPtr<unsigned char>(static_cast<unsigned char*>(malloc(size)));
}
