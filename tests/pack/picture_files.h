// Pictures, icon files and resource sections made to measure for the
// branding tests and the seeds of fuzz_brand: sound ones in the forms a
// product hands over, and hostile ones whose size is a parameter, so that a
// seed stays small while a test makes the file as large as the attack was.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "test_files.h"

namespace pack_testing {

using testing_support::Bytes;

// A BMP file: width x height, the given depth and header size, rows
// top-down or bottom-up; colour(x, y) gives 0xRRGGBB, or a palette index
// below 16 bits.
Bytes MakeBmp(int width, int height, int bits, uint32_t headerSize, bool topDown,
              const std::vector<uint32_t>& palette, std::function<uint32_t(int, int)> colour);

// An icon file of bitmap images of the given sizes, each 32 bits.
Bytes MakeIcon(const std::vector<int>& sizes);
// An icon file of count directory entries that all point at the one image
// (a PNG, or a bitmap with its mask) of size x size pixels.
Bytes IconSharingOneImage(unsigned count, const Bytes& image, int size);
// An icon file of one image, a PNG of size x size pixels.
Bytes IconOfPng(const Bytes& png, int size);

// A PNG chunk: length, type, data, CRC.
Bytes PngChunk(const std::string& type, const Bytes& data);
// A PNG file: the signature, IHDR (not interlaced), the chunks given, IEND.
Bytes MakePng(uint32_t width, uint32_t height, uint8_t depth, uint8_t colourType, const std::vector<Bytes>& chunks);
// A zlib stream of the bytes as they are, in stored blocks.
Bytes ZlibStored(const Bytes& bytes);
// A zlib stream that inflates to count zero bytes: one block of Huffman
// codes of its own, most of it 258-byte copies at 2 bits each.
Bytes ZlibOfZeros(uint64_t count);

// A progressive grey JPEG of width x height pixels: one DC scan, then the
// given number of AC scans with no data, which every decoder still walks
// through the whole picture.
Bytes ProgressiveJpeg(unsigned width, unsigned height, unsigned emptyScans);

// The hostile pictures and icon files, by name: as large as the attacks on
// the packer were (for the tests; the icon file's shared image is small, its
// 65,535 entries as many), or as small as still makes each attack (for the
// fuzz seeds). An icon file of entries that share one image, image
// data that inflates past the pixels (alone and in an icon file), a JPEG of
// more scans than any picture has, a pixel past the palette (BMP and PNG), a
// BMP cut short, a PNG chunk whose type is control bytes.
struct NamedFile {
    std::string name;
    Bytes bytes;
};
std::vector<NamedFile> HostilePictures(bool fullSize);

// image with its resource section replaced by a tree of entries data
// entries, all naming one block: the whole section.
Bytes WithResourcesSharingOneBlock(const Bytes& image, unsigned entries);

}  // namespace pack_testing
