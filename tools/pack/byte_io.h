// The packer's side of binary formats held in memory: a growing buffer that
// fields are appended to, or overwritten in, as little-endian numbers. Built
// on payload/byte_order.h, the one family of byte-order helpers, whose
// ByteView reads them back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "byte_order.h"

using ByteBuffer = std::vector<unsigned char>;

// count bytes of view from at; the caller has checked view.Has(at, count).
inline ByteBuffer CopyBytes(ByteView view, uint64_t at, uint64_t count)
{
    return ByteBuffer(view.data + at, view.data + at + count);
}

inline void PutU8(ByteBuffer* out, uint8_t value)
{
    out->push_back(value);
}

inline void PutU16(ByteBuffer* out, uint16_t value)
{
    unsigned char bytes[2];
    WriteLE16(bytes, value);
    out->insert(out->end(), bytes, bytes + sizeof bytes);
}

inline void PutU32(ByteBuffer* out, uint32_t value)
{
    unsigned char bytes[4];
    WriteLE32(bytes, value);
    out->insert(out->end(), bytes, bytes + sizeof bytes);
}

inline void PutBytes(ByteBuffer* out, const ByteBuffer& bytes)
{
    out->insert(out->end(), bytes.begin(), bytes.end());
}

// Zero bytes up to the next multiple of alignment (a power of two), counted
// from the buffer's start.
inline void PadTo(ByteBuffer* out, size_t alignment)
{
    out->resize((out->size() + alignment - 1) & ~(alignment - 1), 0);
}

// Overwrites a field already in the buffer; the caller has made room for it.
inline void SetU16(ByteBuffer* out, size_t at, uint16_t value)
{
    WriteLE16(out->data() + at, value);
}

inline void SetU32(ByteBuffer* out, size_t at, uint32_t value)
{
    WriteLE32(out->data() + at, value);
}

inline uint64_t AlignUp(uint64_t value, uint64_t alignment)
{
    return (value + alignment - 1) / alignment * alignment;
}
