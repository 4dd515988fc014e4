#include "string_block.h"

bool ReadStringBlock(ByteView bytes, std::u16string strings[STRINGS_PER_BLOCK])
{
    uint64_t at = 0;
    for (size_t i = 0; i < STRINGS_PER_BLOCK; ++i) {
        strings[i].clear();
        if (!ReadCountedUtf16(bytes, &at, &strings[i]))
            return false;
    }
    return true;
}

ByteBuffer WriteStringBlock(const std::u16string strings[STRINGS_PER_BLOCK])
{
    ByteBuffer out;
    for (size_t i = 0; i < STRINGS_PER_BLOCK; ++i)
        PutCountedUtf16(&out, strings[i]);
    return out;
}
