// Little-endian fields of binary formats held in memory: bounds-checked reads
// over a view, and writes into a growing buffer. No struct is ever laid over
// file bytes; every field is read and written on its own, at a named offset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

using ByteBuffer = std::vector<unsigned char>;

// A read-only view of bytes. Has() says whether a range lies inside; the
// reads return 0 outside it, so a caller checks Has() where 0 could mislead.
struct ByteView {
    const unsigned char* data = nullptr;
    size_t size = 0;

    ByteView() = default;
    ByteView(const unsigned char* bytes, size_t count) : data(bytes), size(count) {}
    explicit ByteView(const ByteBuffer& bytes) : data(bytes.data()), size(bytes.size()) {}

    bool Has(uint64_t at, uint64_t count) const { return at <= size && count <= size - at; }
    uint8_t U8(uint64_t at) const { return Has(at, 1) ? data[at] : 0; }
    uint16_t U16(uint64_t at) const
    {
        return Has(at, 2) ? static_cast<uint16_t>(data[at] | data[at + 1] << 8) : 0;
    }
    uint32_t U32(uint64_t at) const
    {
        return Has(at, 4) ? static_cast<uint32_t>(data[at]) | static_cast<uint32_t>(data[at + 1]) << 8 |
                                static_cast<uint32_t>(data[at + 2]) << 16 | static_cast<uint32_t>(data[at + 3]) << 24
                          : 0;
    }
    // count bytes from at; the caller has checked Has(at, count).
    ByteBuffer Copy(uint64_t at, uint64_t count) const
    {
        return ByteBuffer(data + at, data + at + count);
    }
};

inline void PutU8(ByteBuffer* out, uint8_t value)
{
    out->push_back(value);
}

inline void PutU16(ByteBuffer* out, uint16_t value)
{
    out->push_back(static_cast<unsigned char>(value));
    out->push_back(static_cast<unsigned char>(value >> 8));
}

inline void PutU32(ByteBuffer* out, uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out->push_back(static_cast<unsigned char>(value >> shift));
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
    (*out)[at] = static_cast<unsigned char>(value);
    (*out)[at + 1] = static_cast<unsigned char>(value >> 8);
}

inline void SetU32(ByteBuffer* out, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        (*out)[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

inline uint64_t AlignUp(uint64_t value, uint64_t alignment)
{
    return (value + alignment - 1) / alignment * alignment;
}
