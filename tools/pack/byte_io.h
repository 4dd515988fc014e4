// The packer's side of binary formats held in memory: a growing buffer that
// fields are appended to, or overwritten in, as little-endian numbers and
// UTF-16 strings; and those strings read back from a ByteView. Built on
// payload/byte_order.h, the one family of byte-order helpers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
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

// A UTF-16 string and its NUL, as dialog templates and version blocks hold text.
inline void PutUtf16z(ByteBuffer* out, const std::u16string& text)
{
    for (char16_t unit : text)
        PutU16(out, static_cast<uint16_t>(unit));
    PutU16(out, 0);
}

// A count of UTF-16 units, then the units, no NUL: resource names and string
// table entries.
inline void PutCountedUtf16(ByteBuffer* out, const std::u16string& text)
{
    PutU16(out, static_cast<uint16_t>(text.size()));
    for (char16_t unit : text)
        PutU16(out, static_cast<uint16_t>(unit));
}

// Reads UTF-16 units from *at up to a NUL, and moves *at past it. False when
// the view ends first; *text then holds the units read.
inline bool ReadUtf16z(ByteView bytes, uint64_t* at, std::u16string* text)
{
    for (; bytes.Has(*at, 2); *at += 2) {
        uint16_t unit = bytes.U16(*at);
        if (unit == 0) {
            *at += 2;
            return true;
        }
        text->push_back(static_cast<char16_t>(unit));
    }
    return false;
}

// Reads a counted string at *at and moves *at past it. False when the view
// ends first.
inline bool ReadCountedUtf16(ByteView bytes, uint64_t* at, std::u16string* text)
{
    uint16_t length = bytes.U16(*at);
    if (!bytes.Has(*at, 2 + uint64_t(length) * 2))
        return false;
    for (uint16_t i = 0; i < length; ++i)
        text->push_back(static_cast<char16_t>(bytes.U16(*at + 2 + uint64_t(i) * 2)));
    *at += 2 + uint64_t(length) * 2;
    return true;
}
