// Little-endian numbers in binary formats: every format file reads and writes
// its fields through these, one field at a time at a named offset. No struct
// is ever laid over file bytes.
//
// ReadLE and WriteLE take a pointer the caller has checked. ByteView checks
// for itself: its reads return 0 outside the view, so a caller asks Has()
// first wherever a 0 could mislead.
#pragma once

#include <cstddef>
#include <cstdint>

inline uint16_t ReadLE16(const unsigned char* bytes)
{
    return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
}

inline uint32_t ReadLE32(const unsigned char* bytes)
{
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

inline uint64_t ReadLE64(const unsigned char* bytes)
{
    return static_cast<uint64_t>(ReadLE32(bytes)) | static_cast<uint64_t>(ReadLE32(bytes + 4)) << 32;
}

inline void WriteLE16(unsigned char* bytes, uint16_t value)
{
    bytes[0] = static_cast<unsigned char>(value);
    bytes[1] = static_cast<unsigned char>(value >> 8);
}

inline void WriteLE32(unsigned char* bytes, uint32_t value)
{
    WriteLE16(bytes, static_cast<uint16_t>(value));
    WriteLE16(bytes + 2, static_cast<uint16_t>(value >> 16));
}

inline void WriteLE64(unsigned char* bytes, uint64_t value)
{
    WriteLE32(bytes, static_cast<uint32_t>(value));
    WriteLE32(bytes + 4, static_cast<uint32_t>(value >> 32));
}

// A read-only view of bytes held in memory, bounds-checked.
struct ByteView {
    const unsigned char* data = nullptr;
    size_t size = 0;

    ByteView() = default;
    ByteView(const unsigned char* bytes, size_t count) : data(bytes), size(count) {}
    // Over any contiguous container of bytes (the packer's ByteBuffer).
    template <class Bytes>
    explicit ByteView(const Bytes& bytes) : data(bytes.data()), size(bytes.size())
    {
    }

    bool Has(uint64_t at, uint64_t count) const { return at <= size && count <= size - at; }
    uint8_t U8(uint64_t at) const { return Has(at, 1) ? data[at] : 0; }
    uint16_t U16(uint64_t at) const { return Has(at, 2) ? ReadLE16(data + at) : 0; }
    uint32_t U32(uint64_t at) const { return Has(at, 4) ? ReadLE32(data + at) : 0; }
};
