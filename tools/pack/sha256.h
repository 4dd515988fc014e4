// SHA-256, for telling the stock pictures from others: CMake computes the
// same digests at configure time (string(SHA256)), so the packer carries the
// stock pictures' digests rather than the pictures.
#pragma once

#include <cstddef>
#include <string>

// The digest of the bytes' lower-case hexadecimal spelling: what CMake's
// string(SHA256) gives for file(READ ... HEX), its only way to hash part of
// a file. In lower-case hexadecimal, as CMake gives it.
std::string Sha256OfHexSpelling(const unsigned char* bytes, size_t size);
