#include "picture_guard.h"

#include <cstdlib>

#include "pack.h"

namespace {

const unsigned char PNG_SIGNATURE[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
const size_t PNG_CHUNK_OVERHEAD = 12;  // length, type, CRC

uint32_t Big32(ByteView data, uint64_t at)
{
    return uint32_t(data.U8(at)) << 24 | uint32_t(data.U8(at + 1)) << 16 | uint32_t(data.U8(at + 2)) << 8 |
           data.U8(at + 3);
}

uint32_t ChunkType(const char name[5])
{
    return uint32_t(uint8_t(name[0])) << 24 | uint32_t(uint8_t(name[1])) << 16 | uint32_t(uint8_t(name[2])) << 8 |
           uint8_t(name[3]);
}

// A PNG's chunks, walked by their lengths as stb_image walks them: it
// allocates room for a data chunk's declared length before it reads any of
// it, so a chunk longer than the file is refused first.
bool PngChunksFit(ByteView data, std::string* detail)
{
    for (uint64_t at = sizeof PNG_SIGNATURE; data.Has(at, 8);) {
        uint32_t length = Big32(data, at);
        if (!data.Has(at, uint64_t(length) + PNG_CHUNK_OVERHEAD)) {
            *detail = "a PNG chunk of " + std::to_string(length) + " bytes, longer than the rest of the file";
            return false;
        }
        if (Big32(data, at + 4) == ChunkType("IEND"))
            return true;
        at += uint64_t(length) + PNG_CHUNK_OVERHEAD;
    }
    return true;
}

// The JPEG's marker segments, walked as stb_image walks them, skipping stray
// bytes and fill bytes between them, and after each start of scan the
// entropy-coded data with its stuffed zeros and restarts: every table
// stb_image could build is checked, and some it would never reach; every
// scan it could decode is counted, and some it would refuse first. A
// Huffman table of more than 256 codes makes stb_image write past its
// tables. True when the input is safe to hand over (a damaged file is left
// to stb_image to refuse).
bool JpegSafe(ByteView data, std::string* detail)
{
    const uint8_t SOI = 0xD8, EOI = 0xD9, SOS = 0xDA, DHT = 0xC4, TEM = 0x01, RST0 = 0xD0, RST7 = 0xD7;
    const size_t MAX_HUFFMAN_CODES = 256;
    // The start of image, after as many fill bytes as there may be.
    uint64_t start = 1;
    while (data.U8(0) == 0xFF && data.U8(start) == 0xFF)
        ++start;
    if (data.U8(0) != 0xFF || data.U8(start) != SOI)
        return true;
    auto big16 = [&data](uint64_t at) { return static_cast<uint32_t>(data.U8(at) << 8 | data.U8(at + 1)); };
    bool inScan = false;
    unsigned scans = 0;
    for (uint64_t at = start + 1; data.Has(at, 2);) {
        if (data.U8(at) != 0xFF) {  // padding, or scan data
            ++at;
            continue;
        }
        uint64_t next = at + 1;
        while (data.U8(next) == 0xFF)  // fill bytes; past the end U8 reads 0
            ++next;
        uint8_t marker = data.U8(next);
        at = next + 1;
        if (inScan && (marker == 0x00 || (marker >= RST0 && marker <= RST7)))
            continue;  // a stuffed zero or a restart: the scan goes on
        inScan = false;
        if (marker == EOI)
            return true;
        if (marker == SOI || marker == TEM || (marker >= RST0 && marker <= RST7))
            continue;
        // As stb_image reads it: a table's counts even where the file has
        // ended (it reads zeros there), and on to the segment's declared end.
        int64_t length = big16(at);
        for (int64_t left = length - 2, table = at + 2; marker == DHT && left > 0;) {
            // Class and id, sixteen counts, then that many symbols.
            size_t codes = 0;
            for (int64_t i = 1; i <= 16; ++i)
                codes += data.U8(static_cast<uint64_t>(table + i));
            if (codes > MAX_HUFFMAN_CODES) {
                *detail = "a JPEG Huffman table of " + std::to_string(codes) + " codes, more than " +
                          std::to_string(MAX_HUFFMAN_CODES);
                return false;
            }
            table += 17 + static_cast<int64_t>(codes);
            left -= 17 + static_cast<int64_t>(codes);
        }
        inScan = marker == SOS;
        if (inScan && ++scans > MAX_JPEG_SCANS) {
            *detail = "a JPEG of more than " + std::to_string(MAX_JPEG_SCANS) + " scans";
            return false;
        }
        at += static_cast<uint64_t>(length);
    }
    return true;
}

// Adam7's passes: where each starts and how far apart its pixels lie.
const unsigned ADAM7_X0[7] = {0, 4, 0, 2, 0, 1, 0}, ADAM7_Y0[7] = {0, 0, 4, 0, 2, 0, 1};
const unsigned ADAM7_DX[7] = {8, 8, 4, 4, 2, 2, 1}, ADAM7_DY[7] = {8, 8, 8, 4, 4, 2, 2};

// One pass of a PNG's rows (the whole picture when it is not interlaced).
struct PngPass {
    uint32_t x0, y0, dx, dy;  // where its pixels lie in the picture
    uint32_t width, height;   // 0 x 0 for a pass that has no pixels
};

PngPass PassOf(const PngImage& png, unsigned pass)
{
    if (!png.interlaced)
        return {0, 0, 1, 1, png.width, png.height};
    PngPass p = {ADAM7_X0[pass], ADAM7_Y0[pass], ADAM7_DX[pass], ADAM7_DY[pass], 0, 0};
    if (png.width > p.x0 && png.height > p.y0) {
        p.width = (png.width - p.x0 + p.dx - 1) / p.dx;
        p.height = (png.height - p.y0 + p.dy - 1) / p.dy;
    }
    return p;
}

int Paeth(int a, int b, int c)
{
    int p = a + b - c, pa = abs(p - a), pb = abs(p - b), pc = abs(p - c);
    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

}  // namespace

bool IsPng(ByteView data)
{
    if (!data.Has(0, sizeof PNG_SIGNATURE))
        return false;
    for (size_t i = 0; i < sizeof PNG_SIGNATURE; ++i)
        if (data.U8(i) != PNG_SIGNATURE[i])
            return false;
    return true;
}

std::string PrintableReason(const char* reason)
{
    return EscapeName(reason);
}

bool SafeForDecoder(ByteView data, std::string* detail)
{
    return IsPng(data) ? PngChunksFit(data, detail) : JpegSafe(data, detail);
}

bool BmpPixelsDefined(ByteView data, std::string* detail)
{
    // The file header, then the bitmap header: 12 bytes (OS/2) or 40 and up.
    if (data.U8(0) != 'B' || data.U8(1) != 'M')
        return true;
    int64_t offset = static_cast<int32_t>(data.U32(10));
    uint32_t headerSize = data.U32(14);
    bool core = headerSize == 12;
    if (offset < 0 || (!core && headerSize != 40 && headerSize != 56 && headerSize != 108 && headerSize != 124))
        return true;
    int64_t width = core ? data.U16(18) : static_cast<int32_t>(data.U32(18));
    int64_t height = core ? data.U16(20) : static_cast<int32_t>(data.U32(22));
    bool bottomUp = height > 0;
    height = std::llabs(height);
    unsigned bits = data.U16(core ? 24 : 28);
    if (width <= 0 || height == 0 || width > DECODER_MAX_DIMENSION || height > DECODER_MAX_DIMENSION)
        return true;

    // stb_image sizes the palette by where the pixels start, not by the
    // header's count, in whole entries, and reads any index past it from an
    // array it never filled. It rounds down, and with a 12-byte OS/2 header
    // counts the header as 24 bytes and rounds towards zero: four entries
    // short, so the last ones such a file uses are past its palette too.
    bool indexed = bits == 1 || bits == 4 || bits == 8;
    int64_t bytes = offset - 14 - int64_t(headerSize);
    int64_t entries = core ? (bytes - 12) / 3 : bytes >= 0 ? bytes / 4 : -((-bytes + 3) / 4);
    std::string os2 = core ? " (as read with its 12-byte OS/2 header: save it with a 40-byte one)" : "";
    if (indexed && entries < 0) {
        *detail = "its pixels start inside its header" + os2;
        return false;
    }
    if (indexed && (entries == 0 || entries > 256))
        return true;  // stb_image refuses the palette

    // Every row where the header puts it, the last one's padding aside; rows
    // past the file's end would decode as zeros.
    uint64_t rowBytes = 0;
    if (bits == 1 || bits == 4 || bits == 8)
        rowBytes = (uint64_t(width) * bits + 7) / 8;
    else if (bits == 24 || bits == 16)
        rowBytes = uint64_t(width) * (bits / 8);
    else if (bits > 16)
        rowBytes = uint64_t(width) * 4;  // read as 32 bits, or refused
    else
        return true;  // a depth stb_image refuses
    uint64_t stride = (rowBytes + 3) & ~uint64_t(3);
    uint64_t needed = stride * uint64_t(height - 1) + rowBytes;
    uint64_t start = uint64_t(offset);
    if (!data.Has(start, needed)) {
        uint64_t there = start < data.size ? data.size - start : 0;
        *detail = "its pixel rows need " + std::to_string(needed) + " bytes from offset " + std::to_string(offset) +
                  "; the file has " + std::to_string(there);
        return false;
    }
    if (!indexed)
        return true;
    unsigned mask = (1u << bits) - 1;
    for (int64_t row = 0; row < height; ++row) {
        uint64_t at = start + stride * uint64_t(row);
        for (int64_t x = 0; x < width; ++x) {
            uint64_t bit = uint64_t(x) * bits;
            unsigned index = data.U8(at + bit / 8) >> (8 - bits - bit % 8) & mask;
            if (index >= entries) {
                *detail = "the pixel at " + std::to_string(x) + ", " +
                          std::to_string(bottomUp ? height - 1 - row : row) + " is colour " + std::to_string(index) +
                          " of a palette of " + std::to_string(entries) + os2;
                return false;
            }
        }
    }
    return true;
}

bool ReadPngImage(ByteView data, PngImage* png)
{
    *png = PngImage();
    bool header = false;
    unsigned channels = 0;
    for (uint64_t at = sizeof PNG_SIGNATURE;;) {
        if (!data.Has(at, 8))
            return false;
        uint32_t length = Big32(data, at), type = Big32(data, at + 4);
        uint64_t body = at + 8;
        bool end = type == ChunkType("IEND");
        if (!data.Has(body, uint64_t(length) + (end ? 0 : 4)))
            return false;
        at = body + length + 4;
        if (type == ChunkType("CgBI")) {
            png->zlibHeader = false;
            continue;
        }
        if (type == ChunkType("IHDR")) {
            if (header || length != 13)
                return false;
            header = true;
            png->width = Big32(data, body);
            png->height = Big32(data, body + 4);
            png->depth = data.U8(body + 8);
            uint8_t colour = data.U8(body + 9);
            png->palette = colour == 3;
            png->interlaced = data.U8(body + 12) == 1;
            bool depthTaken = png->depth == 1 || png->depth == 2 || png->depth == 4 || png->depth == 8 ||
                              (png->depth == 16 && !png->palette);
            if (png->width == 0 || png->height == 0 || png->width > DECODER_MAX_DIMENSION ||
                png->height > DECODER_MAX_DIMENSION || !depthTaken || colour > 6 || (colour & 1 && !png->palette) ||
                data.U8(body + 10) != 0 || data.U8(body + 11) != 0 || data.U8(body + 12) > 1)
                return false;  // a header stb_image refuses
            channels = png->palette ? 1 : (colour & 2 ? 3 : 1) + (colour & 4 ? 1 : 0);
            continue;
        }
        if (!header)
            return false;  // stb_image takes nothing but CgBI before the header
        if (type == ChunkType("PLTE")) {
            if (length > 256 * 3 || length % 3 != 0)
                return false;
            png->paletteEntries = length / 3;
        } else if (type == ChunkType("IDAT")) {
            if (png->palette && png->paletteEntries == 0)
                return false;
            png->stream.insert(png->stream.end(), data.data + body, data.data + body + length);
        } else if (end) {
            if (png->stream.empty())
                return false;
            break;
        } else if ((type & 0x20000000u) == 0) {
            return false;  // a critical chunk stb_image does not know
        }
    }
    for (unsigned pass = 0; pass < (png->interlaced ? 7u : 1u); ++pass) {
        PngPass p = PassOf(*png, pass);
        if (p.width != 0 && p.height != 0)
            png->inflatedSize += (1 + (uint64_t(p.width) * channels * png->depth + 7) / 8) * p.height;
    }
    return true;
}

bool PngIndicesInPalette(const PngImage& png, ByteBuffer* rows, std::string* detail)
{
    unsigned mask = (1u << png.depth) - 1;
    uint64_t at = 0;
    for (unsigned pass = 0; pass < (png.interlaced ? 7u : 1u); ++pass) {
        PngPass p = PassOf(png, pass);
        if (p.width == 0 || p.height == 0)
            continue;
        size_t rowBytes = (size_t(p.width) * png.depth + 7) / 8;
        for (uint32_t y = 0; y < p.height; ++y, at += 1 + rowBytes) {
            uint8_t filter = (*rows)[at];
            if (filter > 4)
                return true;  // stb_image refuses the row
            unsigned char* row = rows->data() + at + 1;
            const unsigned char* prior = y == 0 ? nullptr : row - 1 - rowBytes;
            for (size_t i = 0; i < rowBytes; ++i) {
                // One byte a pixel for the filters: a row before the first is zeros.
                int left = i > 0 ? row[i - 1] : 0, up = prior ? prior[i] : 0;
                int upLeft = prior && i > 0 ? prior[i - 1] : 0;
                int predicted = filter == 1   ? left
                                : filter == 2 ? up
                                : filter == 3 ? (left + up) / 2
                                : filter == 4 ? Paeth(left, up, upLeft)
                                              : 0;
                row[i] = static_cast<unsigned char>(row[i] + predicted);
            }
            for (uint32_t x = 0; x < p.width; ++x) {
                size_t bit = size_t(x) * png.depth;
                unsigned index = row[bit / 8] >> (8 - png.depth - bit % 8) & mask;
                if (index >= png.paletteEntries) {
                    *detail = "the pixel at " + std::to_string(p.x0 + x * p.dx) + ", " +
                              std::to_string(p.y0 + y * p.dy) + " is colour " + std::to_string(index) +
                              " of a palette of " + std::to_string(png.paletteEntries);
                    return false;
                }
            }
        }
    }
    return true;
}
