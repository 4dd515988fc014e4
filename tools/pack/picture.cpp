// Pictures and icon files for branding: stb_image behind the checks that
// guard it (picture_guard.h), the one that needs its inflater here.
#include "picture.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "picture_guard.h"

// stb_image from Debian's libstb-dev, copied into the build tree at configure
// time. Only the three formats a picture may come in; no SIMD, so every host
// decodes to the same pixels; no file access of its own. Its memory comes
// zeroed: a JPEG whose scan names a Huffman table it never defined makes it
// read that table as allocated, and zeros are a table that decodes nothing.
#define STB_IMAGE_IMPLEMENTATION
#define STBI_MALLOC(size) calloc(1, size)
#define STBI_REALLOC(pointer, size) realloc(pointer, size)
#define STBI_FREE(pointer) free(pointer)
#define STB_IMAGE_STATIC
#define STBI_ONLY_BMP
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#define STBI_NO_STDIO
#define STBI_NO_SIMD
#define STBI_NO_LINEAR
#define STBI_MAX_DIMENSIONS DECODER_MAX_DIMENSION
#include "stb_image.h"

namespace {

// BITMAPINFOHEADER.
const size_t DIB_HEADER_SIZE = 40;
const size_t DIB_WIDTH_AT = 4;
const size_t DIB_HEIGHT_AT = 8;
const size_t DIB_PLANES_AT = 12;
const size_t DIB_BITS_AT = 14;
const size_t DIB_COMPRESSION_AT = 16;
const size_t DIB_COLORS_USED_AT = 32;
const uint32_t BI_RGB = 0;
const uint32_t BI_BITFIELDS = 3;

// An icon file's header, then its directory of 16-byte entries.
const size_t ICON_HEADER_SIZE = 6;
const size_t ICON_ENTRY_SIZE = 16;
const unsigned MAX_ICON_SIZE = 256;

struct StbFree {
    void operator()(stbi_uc* pixels) const { stbi_image_free(pixels); }
};
using Pixels = std::unique_ptr<stbi_uc, StbFree>;

// stb_image's words for a failure, which can hold the file's own bytes (an
// unknown PNG chunk's type): escaped, as entry names are.
std::string StbReason()
{
    const char* reason = stbi_failure_reason();
    return reason != nullptr ? PrintableReason(reason) : "unknown";
}

// The image data of a PNG of checked size inflated by stb_image's own
// inflater into room for the rows its size gives and no more: a stream that
// would inflate past them (a few kilobytes can make gigabytes) is refused
// before stb_image inflates it with no bound. Then a palette picture's
// pixels are checked against its palette.
bool PngInflatesWithin(ByteView data, std::string* detail)
{
    PngImage png;
    if (!ReadPngImage(data, &png))
        return true;  // stb_image refuses it before it inflates anything
    if (png.inflatedSize > static_cast<uint64_t>(INT32_MAX) || png.stream.size() > static_cast<size_t>(INT32_MAX)) {
        *detail = "too large";
        return false;
    }
    ByteBuffer rows(static_cast<size_t>(png.inflatedSize));
    char* out = reinterpret_cast<char*>(rows.data());
    const char* in = reinterpret_cast<const char*>(png.stream.data());
    int size = static_cast<int>(rows.size()), length = static_cast<int>(png.stream.size());
    int inflated = png.zlibHeader ? stbi_zlib_decode_buffer(out, size, in, length)
                                  : stbi_zlib_decode_noheader_buffer(out, size, in, length);
    const char* reason = stbi_failure_reason();
    if (inflated < 0 && reason != nullptr && strcmp(reason, "output buffer limit") == 0) {
        *detail = "its image data inflates to more than the " + std::to_string(png.inflatedSize) + " bytes its " +
                  std::to_string(png.width) + " x " + std::to_string(png.height) + " pixels need";
        return false;
    }
    if (inflated != size)
        return true;  // damaged or short: stb_image refuses it the same way
    return !png.palette || PngIndicesInPalette(png, &rows, detail);
}

// Once the size is checked: the work bounded by the pixels, and every pixel
// from the file.
bool PixelsBoundedAndDefined(ByteView data, std::string* detail)
{
    return IsPng(data) ? PngInflatesWithin(data, detail) : BmpPixelsDefined(data, detail);
}

// stbi_info gives a top-down bitmap's height as stored: negative.
int Magnitude(int value)
{
    return value >= 0 ? value : value == INT32_MIN ? 0 : -value;
}

// Decodes to RGBA after checking the size the header declares.
bool DecodeRgba(ByteView data, unsigned maxWidth, unsigned maxHeight, Pixels* pixels, int* width, int* height,
                std::string* detail)
{
    if (data.size > static_cast<size_t>(INT32_MAX)) {
        *detail = "too large";
        return false;
    }
    int channels = 0;
    int length = static_cast<int>(data.size);
    if (!SafeForDecoder(data, detail))
        return false;
    if (!stbi_info_from_memory(data.data, length, width, height, &channels)) {
        *detail = StbReason();
        return false;
    }
    *height = Magnitude(*height);
    if (*width <= 0 || *height <= 0 || static_cast<unsigned>(*width) > maxWidth ||
        static_cast<unsigned>(*height) > maxHeight) {
        *detail = std::to_string(*width) + " x " + std::to_string(*height) + " pixels, more than " +
                  std::to_string(maxWidth) + " x " + std::to_string(maxHeight);
        return false;
    }
    if (!PixelsBoundedAndDefined(data, detail))
        return false;
    int decodedWidth = 0, decodedHeight = 0;
    pixels->reset(stbi_load_from_memory(data.data, length, &decodedWidth, &decodedHeight, &channels, 4));
    if (!*pixels) {
        *detail = StbReason();
        return false;
    }
    if (decodedWidth != *width || decodedHeight != *height) {
        *detail = "decoded to another size than its header declares";
        return false;
    }
    return true;
}

unsigned DimensionOf(uint8_t field)
{
    return field == 0 ? MAX_ICON_SIZE : field;
}

}  // namespace

PackError DecodePicture(ByteView file, unsigned width, unsigned height, ByteBuffer* dib, unsigned found[2],
                        std::string* detail)
{
    found[0] = found[1] = 0;
    int infoWidth = 0, infoHeight = 0, channels = 0;
    if (!SafeForDecoder(file, detail))
        return PackError::NotAPicture;
    if (file.size > static_cast<size_t>(INT32_MAX) ||
        !stbi_info_from_memory(file.data, static_cast<int>(file.size), &infoWidth, &infoHeight, &channels)) {
        *detail = StbReason();
        return PackError::NotAPicture;
    }
    found[0] = static_cast<unsigned>(Magnitude(infoWidth));
    found[1] = static_cast<unsigned>(Magnitude(infoHeight));
    if (found[0] != width || found[1] != height)
        return PackError::WrongPictureSize;
    Pixels pixels;
    int w = 0, h = 0;
    if (!DecodeRgba(file, width, height, &pixels, &w, &h, detail))
        return PackError::NotAPicture;

    const stbi_uc* rgba = pixels.get();
    for (unsigned y = 0; y < height; ++y)
        for (unsigned x = 0; x < width; ++x) {
            unsigned alpha = rgba[(size_t(y) * width + x) * 4 + 3];
            if (alpha != 0xFF) {
                *detail = "the pixel at " + std::to_string(x) + ", " + std::to_string(y) + " has alpha " +
                          std::to_string(alpha) + " of 255";
                return PackError::PictureTransparent;
            }
        }

    size_t stride = (size_t(width) * 3 + 3) & ~size_t(3);
    dib->clear();
    dib->reserve(DIB_HEADER_SIZE + stride * height);
    PutU32(dib, DIB_HEADER_SIZE);
    PutU32(dib, width);
    PutU32(dib, height);  // positive: rows bottom-up
    PutU16(dib, 1);       // planes
    PutU16(dib, 24);      // bits per pixel
    PutU32(dib, BI_RGB);
    PutU32(dib, static_cast<uint32_t>(stride * height));
    PutU32(dib, 0);  // pixels per metre, across
    PutU32(dib, 0);  // and down
    PutU32(dib, 0);  // colours used
    PutU32(dib, 0);  // colours important
    for (unsigned row = height; row-- > 0;) {
        const stbi_uc* pixel = rgba + size_t(row) * width * 4;
        for (unsigned x = 0; x < width; ++x, pixel += 4) {
            PutU8(dib, pixel[2]);  // blue, green, red
            PutU8(dib, pixel[1]);
            PutU8(dib, pixel[0]);
        }
        PadTo(dib, 4);  // the header is 40 bytes: rows pad to 4 from its start too
    }
    return PackError::Ok;
}

bool ReadBitmapHeader(ByteView dib, int32_t* width, int32_t* height, uint16_t* bits)
{
    if (!dib.Has(0, DIB_HEADER_SIZE) || dib.U32(0) < DIB_HEADER_SIZE)
        return false;
    *width = static_cast<int32_t>(dib.U32(DIB_WIDTH_AT));
    *height = static_cast<int32_t>(dib.U32(DIB_HEIGHT_AT));
    *bits = dib.U16(DIB_BITS_AT);
    return true;
}

bool DescribeIconImage(ByteView data, IconImage* image, std::string* detail)
{
    image->png = IsPng(data);
    if (image->png) {
        Pixels pixels;
        int width = 0, height = 0;
        if (!DecodeRgba(data, MAX_ICON_SIZE, MAX_ICON_SIZE, &pixels, &width, &height, detail)) {
            *detail = "a PNG image that cannot be used: " + *detail;
            return false;
        }
        image->width = static_cast<unsigned>(width);
        image->height = static_cast<unsigned>(height);
        image->bits = 32;  // whatever its depth, Windows draws a PNG icon as 32-bit ARGB
        return true;
    }
    // A bitmap: header, palette, colour rows, then the one-bit mask rows; its
    // height counts both halves.
    int32_t width = 0, doubleHeight = 0;
    uint16_t bits = 0;
    if (!ReadBitmapHeader(data, &width, &doubleHeight, &bits)) {
        *detail = "neither a PNG nor a bitmap";
        return false;
    }
    uint32_t compression = data.U32(DIB_COMPRESSION_AT);
    if (width <= 0 || width > int32_t(MAX_ICON_SIZE) || doubleHeight <= 0 || doubleHeight % 2 != 0 ||
        doubleHeight / 2 > int32_t(MAX_ICON_SIZE) || data.U16(DIB_PLANES_AT) != 1 ||
        (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) ||
        (compression != BI_RGB && compression != BI_BITFIELDS)) {
        *detail = "a bitmap of " + std::to_string(width) + " x " + std::to_string(doubleHeight) + " (both halves), " +
                  std::to_string(bits) + " bits, that no icon has";
        return false;
    }
    uint32_t height = static_cast<uint32_t>(doubleHeight / 2);
    uint64_t colors = data.U32(DIB_COLORS_USED_AT);
    if (bits <= 8 && (colors == 0 || colors > (1u << bits)))
        colors = 1u << bits;
    else if (bits > 8)
        colors = compression == BI_BITFIELDS ? 3 : 0;
    uint64_t colorRow = (uint64_t(width) * bits + 31) / 32 * 4;
    uint64_t maskRow = (uint64_t(width) + 31) / 32 * 4;
    uint64_t needed = data.U32(0) + colors * 4 + (colorRow + maskRow) * height;
    if (needed > data.size) {
        *detail = "a bitmap of " + std::to_string(data.size) + " bytes; its pixels and mask need " +
                  std::to_string(needed);
        return false;
    }
    image->width = static_cast<unsigned>(width);
    image->height = height;
    image->bits = bits;
    return true;
}

PackError ReadIconFile(ByteView file, std::vector<IconImage>* images, std::string* detail)
{
    images->clear();
    if (!file.Has(0, ICON_HEADER_SIZE) || file.U16(0) != 0 || file.U16(2) != 1 || file.U16(4) == 0) {
        *detail = file.Has(0, ICON_HEADER_SIZE) && file.U16(2) == 2 ? "a cursor" : "no icon file header";
        return PackError::NotAnIcon;
    }
    uint16_t count = file.U16(4);
    uint64_t directoryEnd = ICON_HEADER_SIZE + uint64_t(count) * ICON_ENTRY_SIZE;
    if (!file.Has(0, directoryEnd)) {
        *detail = "its directory of " + std::to_string(count) + " images is cut short";
        return PackError::NotAnIcon;
    }
    auto which = [&file, count](uint16_t i) {
        uint64_t entry = ICON_HEADER_SIZE + uint64_t(i) * ICON_ENTRY_SIZE;
        return "image " + std::to_string(i + 1) + " of " + std::to_string(count) + " (" +
               std::to_string(DimensionOf(file.U8(entry))) + " x " + std::to_string(DimensionOf(file.U8(entry + 1))) +
               ")";
    };
    // Entries that share their data would each be copied, and decoded: a
    // megabyte of directory pointing at one image could make gigabytes.
    // Images laid out once fit in the file after the directory, so that
    // bounds the bytes read before any is copied.
    uint64_t total = 0;
    for (uint16_t i = 0; i < count; ++i) {
        uint64_t entry = ICON_HEADER_SIZE + uint64_t(i) * ICON_ENTRY_SIZE;
        uint32_t size = file.U32(entry + 8);
        if (size == 0 || !file.Has(file.U32(entry + 12), size)) {
            *detail = which(i) + " lies outside the file";
            return PackError::BadIconImage;
        }
        total += size;
    }
    if (total > file.size - directoryEnd) {
        *detail = "its " + std::to_string(count) + " images add up to " + std::to_string(total) +
                  " bytes, more than the " + std::to_string(file.size - directoryEnd) +
                  " bytes after its directory: they share their data";
        return PackError::NotAnIcon;
    }
    for (uint16_t i = 0; i < count; ++i) {
        uint64_t entry = ICON_HEADER_SIZE + uint64_t(i) * ICON_ENTRY_SIZE;
        IconImage image;
        image.data = CopyBytes(file, file.U32(entry + 12), file.U32(entry + 8));
        image.colorCount = file.U8(entry + 2);
        std::string why;
        if (!DescribeIconImage(ByteView(image.data), &image, &why)) {
            *detail = which(i) + " is " + why;
            return PackError::BadIconImage;
        }
        images->push_back(std::move(image));
    }
    return PackError::Ok;
}

IconGroupEntry IconGroupEntryFor(const IconImage& image, uint16_t id)
{
    IconGroupEntry entry;
    entry.width = static_cast<uint8_t>(image.width >= MAX_ICON_SIZE ? 0 : image.width);
    entry.height = static_cast<uint8_t>(image.height >= MAX_ICON_SIZE ? 0 : image.height);
    entry.colorCount = image.colorCount;
    entry.planes = 1;
    entry.bitCount = image.bits;
    entry.bytes = static_cast<uint32_t>(image.data.size());
    entry.id = id;
    return entry;
}
