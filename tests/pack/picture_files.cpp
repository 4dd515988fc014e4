#include "picture_files.h"

#include <algorithm>
#include <cstring>

#include "byte_order.h"
#include "pe_image.h"

namespace pack_testing {

namespace {

void PutBig32(Bytes* out, uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out->push_back(static_cast<unsigned char>(value >> shift));
}

void PutBig16(Bytes* out, unsigned value)
{
    out->push_back(static_cast<unsigned char>(value >> 8));
    out->push_back(static_cast<unsigned char>(value));
}

uint32_t Crc32(const unsigned char* bytes, size_t size)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = crc >> 1 ^ (crc & 1 ? 0xEDB88320u : 0);
    }
    return ~crc;
}

// Deflate's bits, least significant first; Huffman codes go in from their
// most significant bit.
struct BitWriter {
    Bytes* out;
    unsigned used = 8;

    void Bits(uint32_t value, unsigned count)
    {
        for (unsigned i = 0; i < count; ++i) {
            if (used == 8) {
                out->push_back(0);
                used = 0;
            }
            out->back() = static_cast<unsigned char>(out->back() | (value >> i & 1) << used++);
        }
    }
    void Code(uint32_t code, unsigned length)
    {
        for (unsigned i = length; i-- > 0;)
            Bits(code >> i & 1, 1);
    }
};

// An icon directory entry of a size x size image of the given bytes at offset.
void PutIconEntry(Bytes* file, size_t at, int size, size_t bytes, size_t offset)
{
    unsigned char* entry = &(*file)[at];
    entry[0] = entry[1] = static_cast<unsigned char>(size >= 256 ? 0 : size);
    entry[4] = 1;
    entry[6] = 32;
    WriteLE32(entry + 8, static_cast<uint32_t>(bytes));
    WriteLE32(entry + 12, static_cast<uint32_t>(offset));
}

}  // namespace

Bytes MakeBmp(int width, int height, int bits, uint32_t headerSize, bool topDown,
              const std::vector<uint32_t>& palette, std::function<uint32_t(int, int)> colour)
{
    size_t stride = (static_cast<size_t>(width) * bits + 31) / 32 * 4;
    size_t offset = 14 + headerSize + palette.size() * 4;
    Bytes file(offset + stride * height, 0);
    file[0] = 'B';
    file[1] = 'M';
    WriteLE32(&file[2], static_cast<uint32_t>(file.size()));
    WriteLE32(&file[10], static_cast<uint32_t>(offset));
    unsigned char* header = &file[14];
    WriteLE32(header, headerSize);
    WriteLE32(header + 4, static_cast<uint32_t>(width));
    WriteLE32(header + 8, static_cast<uint32_t>(topDown ? -height : height));
    header[12] = 1;
    header[14] = static_cast<unsigned char>(bits);
    WriteLE32(header + 32, static_cast<uint32_t>(palette.size()));
    if (bits == 32 && headerSize >= 108) {
        WriteLE32(header + 16, 3);  // BI_BITFIELDS: red, green, blue and alpha masks
        WriteLE32(header + 40, 0x00FF0000);
        WriteLE32(header + 44, 0x0000FF00);
        WriteLE32(header + 48, 0x000000FF);
        WriteLE32(header + 52, 0xFF000000);
    }
    for (size_t i = 0; i < palette.size(); ++i)
        WriteLE32(&file[14 + headerSize + i * 4], palette[i]);
    for (int y = 0; y < height; ++y) {
        unsigned char* row = &file[offset + stride * static_cast<size_t>(topDown ? y : height - 1 - y)];
        for (int x = 0; x < width; ++x) {
            uint32_t c = colour(x, y);
            if (bits < 8) {
                row[x * bits / 8] |= static_cast<unsigned char>(c << (8 - bits - x * bits % 8));
            } else if (bits == 8) {
                row[x] = static_cast<unsigned char>(c);
            } else if (bits == 16) {  // 5 bits each, red highest
                uint32_t v = (c >> 19 & 31) << 10 | (c >> 11 & 31) << 5 | (c >> 3 & 31);
                row[x * 2] = static_cast<unsigned char>(v);
                row[x * 2 + 1] = static_cast<unsigned char>(v >> 8);
            } else {
                size_t at = static_cast<size_t>(x) * bits / 8;
                row[at] = static_cast<unsigned char>(c);
                row[at + 1] = static_cast<unsigned char>(c >> 8);
                row[at + 2] = static_cast<unsigned char>(c >> 16);
                if (bits == 32)
                    row[at + 3] = 0xFF;
            }
        }
    }
    return file;
}

Bytes MakeIcon(const std::vector<int>& sizes)
{
    Bytes file(6 + 16 * sizes.size(), 0);
    file[2] = 1;
    WriteLE16(&file[4], static_cast<uint16_t>(sizes.size()));
    for (size_t i = 0; i < sizes.size(); ++i) {
        int size = sizes[i];
        Bytes bmp = MakeBmp(size, size, 32, 40, false, {}, [](int x, int y) { return uint32_t(x * 7 + y); });
        Bytes image(bmp.begin() + 14, bmp.end());
        WriteLE32(&image[8], static_cast<uint32_t>(2 * size));                             // colour and mask halves
        image.resize(image.size() + static_cast<size_t>((size + 31) / 32 * 4 * size), 0);  // the mask
        PutIconEntry(&file, 6 + 16 * i, size, image.size(), file.size());
        file.insert(file.end(), image.begin(), image.end());
    }
    return file;
}

Bytes IconSharingOneImage(unsigned count, const Bytes& image, int size)
{
    size_t offset = 6 + 16 * size_t(count);
    Bytes file(offset + image.size(), 0);
    file[2] = 1;
    WriteLE16(&file[4], static_cast<uint16_t>(count));
    for (unsigned i = 0; i < count; ++i)
        PutIconEntry(&file, 6 + 16 * size_t(i), size, image.size(), offset);
    std::copy(image.begin(), image.end(), file.begin() + static_cast<long>(offset));
    return file;
}

Bytes IconOfPng(const Bytes& png, int size)
{
    return IconSharingOneImage(1, png, size);
}

Bytes PngChunk(const std::string& type, const Bytes& data)
{
    Bytes chunk;
    PutBig32(&chunk, static_cast<uint32_t>(data.size()));
    chunk.insert(chunk.end(), type.begin(), type.end());
    chunk.insert(chunk.end(), data.begin(), data.end());
    PutBig32(&chunk, Crc32(&chunk[4], chunk.size() - 4));
    return chunk;
}

Bytes MakePng(uint32_t width, uint32_t height, uint8_t depth, uint8_t colourType, const std::vector<Bytes>& chunks)
{
    Bytes file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes header;
    PutBig32(&header, width);
    PutBig32(&header, height);
    header.insert(header.end(), {depth, colourType, 0, 0, 0});  // deflate, adaptive filters, not interlaced
    Bytes ihdr = PngChunk("IHDR", header);
    file.insert(file.end(), ihdr.begin(), ihdr.end());
    for (const Bytes& chunk : chunks)
        file.insert(file.end(), chunk.begin(), chunk.end());
    Bytes iend = PngChunk("IEND", {});
    file.insert(file.end(), iend.begin(), iend.end());
    return file;
}

Bytes ZlibStored(const Bytes& bytes)
{
    Bytes out = {0x78, 0x01};
    size_t at = 0;
    do {
        size_t length = std::min<size_t>(bytes.size() - at, 0xFFFF);
        bool last = at + length == bytes.size();
        out.push_back(last ? 1 : 0);
        out.insert(out.end(), {static_cast<unsigned char>(length), static_cast<unsigned char>(length >> 8),
                               static_cast<unsigned char>(~length), static_cast<unsigned char>(~length >> 8)});
        out.insert(out.end(), bytes.begin() + static_cast<long>(at), bytes.begin() + static_cast<long>(at + length));
        at += length;
    } while (at < bytes.size());
    uint32_t a = 1, b = 0;
    for (unsigned char c : bytes) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    PutBig32(&out, b << 16 | a);
    return out;
}

Bytes ZlibOfZeros(uint64_t count)
{
    Bytes out = {0x78, 0x01};
    BitWriter bits{&out};
    bits.Bits(1, 1);  // the last block,
    bits.Bits(2, 2);  // of codes of its own:
    // copy 258 (symbol 285) in 1 bit, a zero byte and the end in 2, and
    // distance 1 (its code 0) in 1 bit: 258 bytes for every 2 bits.
    bits.Bits(286 - 257, 5);  // literal and length codes, 0 to 285
    bits.Bits(1 - 1, 5);      // one distance code
    bits.Bits(18 - 4, 4);     // lengths of the code-length codes, in their order
    const unsigned ORDER_LENGTHS[18] = {0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 2};  // 18: 1, 2: 2, 1: 2
    for (unsigned length : ORDER_LENGTHS)
        bits.Bits(length, 3);
    const uint32_t ZEROS_18 = 0, LENGTH_1 = 2, LENGTH_2 = 3;  // the code-length codes
    bits.Code(LENGTH_2, 2);  // symbol 0
    bits.Code(ZEROS_18, 1);
    bits.Bits(138 - 11, 7);  // symbols 1 to 138,
    bits.Code(ZEROS_18, 1);
    bits.Bits(117 - 11, 7);  // 139 to 255
    bits.Code(LENGTH_2, 2);  // 256
    bits.Code(ZEROS_18, 1);
    bits.Bits(28 - 11, 7);   // 257 to 284
    bits.Code(LENGTH_1, 2);  // 285
    bits.Code(LENGTH_1, 2);  // distance code 0
    const uint32_t COPY_258 = 0, ZERO = 2, END = 3, DISTANCE_1 = 0;
    uint64_t written = 0;
    if (count > 0) {
        bits.Code(ZERO, 2);
        ++written;
    }
    for (; count - written >= 258; written += 258) {
        bits.Code(COPY_258, 1);
        bits.Code(DISTANCE_1, 1);
    }
    for (; written < count; ++written)
        bits.Code(ZERO, 2);
    bits.Code(END, 2);
    PutBig32(&out, static_cast<uint32_t>(count % 65521) << 16 | 1);  // Adler-32 of zeros
    return out;
}

Bytes ProgressiveJpeg(unsigned width, unsigned height, unsigned emptyScans)
{
    Bytes file = {0xFF, 0xD8};
    auto segment = [&file](uint8_t marker, const Bytes& body) {
        file.insert(file.end(), {0xFF, marker});
        PutBig16(&file, static_cast<unsigned>(body.size() + 2));
        file.insert(file.end(), body.begin(), body.end());
    };
    Bytes quantisation(65, 1);
    quantisation[0] = 0;  // 8-bit table 0
    segment(0xDB, quantisation);
    Bytes frame = {8};
    PutBig16(&frame, height);
    PutBig16(&frame, width);
    frame.insert(frame.end(), {1, 1, 0x11, 0});  // one component, 1 x 1, table 0
    segment(0xC2, frame);
    // DC and AC tables of one one-bit code each: "no difference" and "end of band".
    Bytes oneCode(17, 0);
    oneCode[1] = 1;
    oneCode.push_back(0);
    oneCode[0] = 0x00;
    segment(0xC4, oneCode);
    oneCode[0] = 0x10;
    segment(0xC4, oneCode);
    // The DC scan: one zero bit per 8 x 8 block.
    segment(0xDA, {1, 1, 0x00, 0, 0, 0x00});
    size_t blocks = size_t((width + 7) / 8) * ((height + 7) / 8);
    file.insert(file.end(), (blocks + 7) / 8, 0x00);
    for (unsigned i = 0; i < emptyScans; ++i)
        segment(0xDA, {1, 1, 0x00, 1, 63, 0x00});
    file.insert(file.end(), {0xFF, 0xD9});
    return file;
}

std::vector<NamedFile> HostilePictures(bool fullSize)
{
    Bytes image16 = MakeIcon({16});
    image16.erase(image16.begin(), image16.begin() + 6 + 16);
    auto index = [](int x, int y) { return x == 100 && y == 20 ? 5u : uint32_t(x % 2); };
    Bytes rows;
    for (int y = 0; y < 26; ++y) {
        rows.push_back(0);  // no filter
        for (int x = 0; x < 118; ++x)
            rows.push_back(static_cast<unsigned char>(index(x, y)));
    }
    Bytes cut = MakeBmp(600, 360, 24, 40, false, {}, [](int x, int y) { return uint32_t(x ^ y); });
    cut.resize(54 + 1800 * (fullSize ? 193 : 3));
    // 2000 MiB from just under 2 MiB, as the attack had it; 32 MiB from 32 KiB
    // still makes stb_image's growing buffer ask for 40 MiB at once.
    uint64_t bomb = fullSize ? uint64_t(2000) << 20 : uint64_t(32) << 20;
    return {
        {"icon-entries-sharing-one-image", IconSharingOneImage(fullSize ? 65535 : 1000, image16, 16)},
        {"png-inflating-past-its-pixels", MakePng(600, 360, 8, 2, {PngChunk("IDAT", ZlibOfZeros(bomb))})},
        {"png-inflating-past-its-pixels-in-an-icon",
         IconOfPng(MakePng(256, 256, 8, 6, {PngChunk("IDAT", ZlibOfZeros(bomb))}), 256)},
        {"jpeg-more-scans-than-a-picture-has",
         fullSize ? ProgressiveJpeg(600, 360, 190000) : ProgressiveJpeg(1024, 1024, 6000)},
        {"bmp-pixel-past-the-palette", MakeBmp(118, 26, 8, 40, false, {0x00336699, 0x00CC9933}, index)},
        {"png-pixel-past-the-palette", MakePng(118, 26, 8, 3, {PngChunk("PLTE", {0x33, 0x66, 0x99, 0xCC, 0x99, 0x33}),
                                                               PngChunk("IDAT", ZlibStored(rows))})},
        {"bmp-cut-short", cut},
        {"png-chunk-type-of-control-bytes",
         MakePng(118, 26, 8, 2, {PngChunk("\x1b[2J", {}), PngChunk("IDAT", ZlibOfZeros(26 * (1 + 118 * 3)))})},
    };
}

Bytes WithResourcesSharingOneBlock(const Bytes& image, unsigned entries)
{
    Bytes out = image;
    PeLayout layout;
    ByteView section;
    uint32_t rva = 0;
    if (!ReadPeLayout(ByteView(image), &layout) || !FindResourceSection(ByteView(image), layout, &section, &rva))
        return Bytes();
    const PeSection& resources = layout.sections[static_cast<size_t>(layout.resourceSection)];
    size_t at = resources.rawPointer, sub = 0x18, record = sub + 16 + 8 * size_t(entries);
    if (record + 16 > section.size)
        return Bytes();
    unsigned char* tree = &out[at];
    memset(tree, 0, record + 16);
    WriteLE16(tree + 14, 1);  // the root: one type,
    WriteLE32(tree + 16, 3);
    WriteLE32(tree + 20, 0x80000000u | static_cast<uint32_t>(sub));
    WriteLE16(tree + sub + 14, static_cast<uint16_t>(entries));  // of entries resources
    for (unsigned i = 0; i < entries; ++i) {
        WriteLE32(tree + sub + 16 + 8 * i, i + 1);
        WriteLE32(tree + sub + 20 + 8 * i, static_cast<uint32_t>(record));
    }
    WriteLE32(tree + record, rva);  // each the whole section
    WriteLE32(tree + record + 4, static_cast<uint32_t>(section.size));
    return out;
}

}  // namespace pack_testing
