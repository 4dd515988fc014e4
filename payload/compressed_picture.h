// A picture stored compressed in a compressed launcher's resources.
//
// The packer moves the splash and the button pictures out of RT_BITMAP into
// resources of the named type PICTURE_RESOURCE_TYPE, same ids and languages,
// each one blob:
//
//     0   magic        8   "QVPICTLZ"
//     8   version      2   1
//     10  codec        2   1: LZMA
//     12  pixels       4   the pixel bytes the stream decodes to: the rows the
//                          DIB header below describes, each padded to 4 bytes
//     16  packed       4   the stream's bytes: the rest of the blob
//     20  properties   5   LZMA properties: (pb * 5 + lp) * 9 + lc with
//                          lc + lp at most 4, then the dictionary size, at
//                          most PICTURE_MAX_PIXEL_BYTES
//     25  reserved     3   zero
//     28  DIB header  40   the BITMAPINFOHEADER the bitmap resource had, as
//                          it was: 24 bits, BI_RGB, no colour table
//     68  stream           one LZMA stream without end marker
//
// All numbers are unsigned little-endian. The bitmap resource it replaces is
// the DIB header followed by the pixels, so header and pixels together give
// it back byte for byte. Everything but the stream is judged before anything
// is allocated: the DIB header's size, depth and compression, the pixel
// bytes it describes against the field and against the cap, the packed size
// against the blob. Then the stream is decoded straight into the caller's
// buffer of exactly the pixel bytes (the output is the dictionary), and it
// must end there: every packed byte consumed, the range coder at zero.
//
// The launcher and the packer read pictures through this one reader; only
// the packer writes them (tools/pack/stub_pictures.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

#include "archive.h"
#include "byte_order.h"
#include "compressed.h"

// The resource type, by name. Resource compilers and Windows' lookup both
// spell type names in capitals.
#define PICTURE_RESOURCE_TYPE "QVPICTURE"

const unsigned char PICTURE_MAGIC[8] = {'Q', 'V', 'P', 'I', 'C', 'T', 'L', 'Z'};
const uint16_t PICTURE_VERSION = 1;
const uint16_t PICTURE_CODEC_LZMA = 1;
const size_t PICTURE_VERSION_AT = 8;
const size_t PICTURE_CODEC_AT = 10;
const size_t PICTURE_PIXELS_AT = 12;
const size_t PICTURE_PACKED_AT = 16;
const size_t PICTURE_PROPERTIES_AT = 20;
const size_t PICTURE_RESERVED_AT = 25;
const size_t PICTURE_DIB_HEADER_AT = 28;
const size_t PICTURE_STREAM_AT = 68;

// BITMAPINFOHEADER, the one DIB header the format holds.
const size_t PICTURE_DIB_HEADER_SIZE = 40;
const size_t PICTURE_DIB_WIDTH_AT = 4;
const size_t PICTURE_DIB_HEIGHT_AT = 8;
const size_t PICTURE_DIB_PLANES_AT = 12;
const size_t PICTURE_DIB_BITS_AT = 14;
const size_t PICTURE_DIB_COMPRESSION_AT = 16;
const size_t PICTURE_DIB_SIZE_IMAGE_AT = 20;
const size_t PICTURE_DIB_COLORS_USED_AT = 32;
const uint32_t PICTURE_DIB_UNCOMPRESSED = 0;  // BI_RGB

// The most pixel bytes a picture may have: a 600 x 360 24-bit splash has
// 648,000. It bounds the buffer a reader allocates and the dictionary.
const uint32_t PICTURE_MAX_PIXEL_BYTES = 1u << 20;
// lc + lp at most this: the decoder's probability tables stay under 32 KiB.
const unsigned PICTURE_MAX_LITERAL_BITS = 4;

// A blob's fields, judged.
struct PictureInfo {
    int32_t width = 0;
    int32_t height = 0;       // negative for top-down rows, as in the DIB header
    uint32_t pixelBytes = 0;  // what DecodePicture writes
    uint32_t packedSize = 0;
    const unsigned char* dibHeader = nullptr;  // PICTURE_DIB_HEADER_SIZE bytes inside the blob
};

// The pixel bytes of the DIB header at header (PICTURE_DIB_HEADER_SIZE bytes),
// when it is one the format holds: a 40-byte header, one plane, 24 bits,
// BI_RGB, no colour table, a width and height not zero, its image size 0 or
// the true one, and at most PICTURE_MAX_PIXEL_BYTES of pixels. 0 otherwise.
uint32_t PictureDibPixelBytes(const unsigned char* header);

// Judges everything before the stream. UnknownPicture for another magic,
// version or codec, reserved bytes set or LZMA properties out of range;
// PictureTooLarge for a dictionary over the cap; DamagedPicture for a blob
// cut short, a DIB header the format does not hold or that disagrees with
// the pixel bytes, or a packed size that is not the rest of the blob.
PayloadError ReadPictureHeader(ByteView blob, PictureInfo* info);

// Decodes the stream of a blob ReadPictureHeader accepted into pixels, which
// holds info.pixelBytes bytes. DamagedPicture unless the stream gives exactly
// those bytes from exactly its packed bytes and ends there; OutOfMemory.
PayloadError DecodePicture(ByteView blob, const PictureInfo& info, unsigned char* pixels);
