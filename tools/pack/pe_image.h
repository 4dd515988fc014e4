// Just enough of the PE format to judge a stub, to find where its image ends
// and to read its version block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// "MZ" at the start, and "PE\0\0" and a whole file header where the DOS header points.
bool HasPeSignatures(const unsigned char* bytes, size_t size);
// The end of the image's last section's raw data (or of its headers, if
// larger), read from the section table. False when file is not a PE image.
bool FindImageEnd(FILE* file, uint64_t* end);
// The value of a string in the image's version block (InternalName,
// OriginalFilename...), read from its resources with no help from the host
// system. False when the image has no version block or no such string.
// Characters beyond ASCII come back as '?': the values compared are ASCII.
bool FindVersionString(const unsigned char* image, size_t size, const char* key, std::string* value);
// True for our launcher: its version block's InternalName is "Quorvane".
bool IsLauncherImage(const unsigned char* image, size_t size);
