// Paths and names put together in fixed buffers: all the staging and the
// edition commands need of snprintf. With MinGW's C++ headers snprintf is
// mingw-w64's own printf, whose floating-point conversions would add about a
// third to the launcher's code for these few joins.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>

// Writes the parts one after another and a NUL into out, size bytes in all.
// False when they do not fit, and out then holds the empty string: a path cut
// short names some other file.
inline bool JoinText(char* out, size_t size, std::initializer_list<const char*> parts)
{
    if (size == 0)
        return false;
    size_t used = 0;
    for (const char* part : parts) {
        size_t length = strlen(part);
        if (length >= size - used) {
            out[0] = '\0';
            return false;
        }
        memcpy(out + used, part, length);
        used += length;
    }
    out[used] = '\0';
    return true;
}

const size_t HEX64_SIZE = 17;  // 16 digits and the NUL

// value as 16 lower-case hexadecimal digits, leading zeros kept, and a NUL.
inline void WriteHex64(uint64_t value, char* out)
{
    for (int i = 15; i >= 0; --i, value >>= 4)
        out[i] = "0123456789abcdef"[value & 0xF];
    out[16] = '\0';
}
