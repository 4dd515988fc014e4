// Just enough of the PE format to judge a stub and to find where its image ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// "MZ" at the start and "PE\0\0" where the DOS header's e_lfanew points.
bool HasPeSignatures(const unsigned char* bytes, size_t size);
// The end of the image's last section's raw data (or of its headers, if
// larger), read from the section table. False when file is not a PE image.
bool FindImageEnd(FILE* file, uint64_t* end);
