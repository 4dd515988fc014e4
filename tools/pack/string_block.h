// String table blocks (RT_STRING): RT_STRING n holds the strings 16 (n - 1)
// to 16 n - 1, each a count of UTF-16 units, then the units.
#pragma once

#include <cstddef>
#include <string>

#include "byte_io.h"

const size_t STRINGS_PER_BLOCK = 16;
bool ReadStringBlock(ByteView bytes, std::u16string strings[STRINGS_PER_BLOCK]);
ByteBuffer WriteStringBlock(const std::u16string strings[STRINGS_PER_BLOCK]);
