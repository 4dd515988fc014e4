// What stb_image relies on in a picture and does not check, checked before
// it sees one. First the file's structure (chunk and segment lengths, JPEG
// Huffman tables, the number of scans); then, once the picture's size is
// known and within bounds, that the work is bounded by the pixels (no stream
// inflates past them) and that every pixel comes from the file (BMP rows and
// palette indices, PNG palette indices), since stb_image fills a missing row
// with zeros and reads an index past the palette from memory it never wrote.
// Each check walks the file as stb_image walks it; what stb_image refuses by
// itself is left to it, so that its words name the fault.
#pragma once

#include <cstdint>
#include <string>

#include "byte_io.h"

// The largest width or height stb_image decodes, as picture.cpp sets it.
const unsigned DECODER_MAX_DIMENSION = 4096;

// A JPEG of more scans is refused: encoders write about ten (a progressive
// picture of three components), elaborate scripts a few dozen, and each
// scan makes the decoder walk the whole picture again.
const unsigned MAX_JPEG_SCANS = 256;

bool IsPng(ByteView data);

// The decoder's words for a failure, which can hold the file's own bytes (an
// unknown PNG chunk's type), escaped as entry names are. Here rather than
// beside the decoder, whose file stays clear of the system's headers.
std::string PrintableReason(const char* reason);

// True when stb_image may read the file's header and decode it: no PNG chunk
// longer than the rest of the file, no JPEG Huffman table of more than 256
// codes and no more than MAX_JPEG_SCANS scans. Otherwise *detail says why.
bool SafeForDecoder(ByteView data, std::string* detail);

// For a BMP file whose size has been checked: its rows are all in the file
// and each pixel of a palette picture names an entry of its palette, the
// palette as stb_image reads it (sized by where the pixels start). True for
// a file that is no BMP, or one stb_image refuses by itself.
bool BmpPixelsDefined(ByteView data, std::string* detail);

// A PNG file as stb_image decodes it.
struct PngImage {
    uint32_t width = 0;
    uint32_t height = 0;
    uint8_t depth = 0;
    bool palette = false;
    bool interlaced = false;
    bool zlibHeader = true;   // false after a CgBI chunk: the stream has no zlib header
    unsigned paletteEntries = 0;
    ByteBuffer stream;        // the IDAT chunks' data, joined
    uint64_t inflatedSize = 0;  // what the rows take: their filter bytes and pixels, each pass's
};

// Reads what decoding needs. False when stb_image refuses the file before it
// inflates anything (no IHDR first, a header it does not take, no PLTE for a
// palette picture, no image data or no IEND).
bool ReadPngImage(ByteView data, PngImage* png);

// For a palette picture, given its stream inflated to exactly inflatedSize
// bytes: every pixel names an entry of the palette. Unfilters the rows in
// place. True when they are (or when a row's filter is one stb_image refuses).
bool PngIndicesInPalette(const PngImage& png, ByteBuffer* rows, std::string* detail);
