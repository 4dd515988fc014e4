#include "compressed_picture.h"

#include <cstring>

#include "lzma_heap.h"

#include "LzmaDec.h"

namespace {

const unsigned MAX_PROPERTIES_BYTE = 9 * 5 * 5;  // lc < 9, lp < 5, pb < 5

}  // namespace

uint32_t PictureDibPixelBytes(const unsigned char* header)
{
    ByteView dib(header, PICTURE_DIB_HEADER_SIZE);
    int32_t width = static_cast<int32_t>(dib.U32(PICTURE_DIB_WIDTH_AT));
    int32_t height = static_cast<int32_t>(dib.U32(PICTURE_DIB_HEIGHT_AT));
    if (dib.U32(0) != PICTURE_DIB_HEADER_SIZE || dib.U16(PICTURE_DIB_PLANES_AT) != 1 ||
        dib.U16(PICTURE_DIB_BITS_AT) != 24 || dib.U32(PICTURE_DIB_COMPRESSION_AT) != PICTURE_DIB_UNCOMPRESSED ||
        dib.U32(PICTURE_DIB_COLORS_USED_AT) != 0 || width <= 0 || height == 0 || height == INT32_MIN)
        return 0;
    // In 64 bits: a width and height near 2^31 each must not wrap.
    uint64_t stride = (static_cast<uint64_t>(width) * 3 + 3) / 4 * 4;
    uint64_t pixels = stride * static_cast<uint64_t>(height < 0 ? -height : height);
    if (pixels > PICTURE_MAX_PIXEL_BYTES)
        return 0;
    uint32_t sizeImage = dib.U32(PICTURE_DIB_SIZE_IMAGE_AT);
    if (sizeImage != 0 && sizeImage != pixels)
        return 0;
    return static_cast<uint32_t>(pixels);
}

PayloadError ReadPictureHeader(ByteView blob, PictureInfo* info)
{
    *info = PictureInfo();
    if (!blob.Has(0, sizeof PICTURE_MAGIC) || memcmp(blob.data, PICTURE_MAGIC, sizeof PICTURE_MAGIC) != 0)
        return PayloadError::UnknownPicture;
    if (!blob.Has(0, PICTURE_STREAM_AT))
        return PayloadError::DamagedPicture;  // cut short
    const unsigned char* properties = blob.data + PICTURE_PROPERTIES_AT;
    if (blob.U16(PICTURE_VERSION_AT) != PICTURE_VERSION || blob.U16(PICTURE_CODEC_AT) != PICTURE_CODEC_LZMA ||
        blob.U8(PICTURE_RESERVED_AT) != 0 || blob.U16(PICTURE_RESERVED_AT + 1) != 0 ||
        properties[0] >= MAX_PROPERTIES_BYTE)
        return PayloadError::UnknownPicture;
    unsigned lc = properties[0] % 9, lp = properties[0] / 9 % 5;
    if (lc + lp > PICTURE_MAX_LITERAL_BITS)
        return PayloadError::UnknownPicture;
    if (ReadLE32(properties + 1) > PICTURE_MAX_PIXEL_BYTES)
        return PayloadError::PictureTooLarge;
    const unsigned char* header = blob.data + PICTURE_DIB_HEADER_AT;
    uint32_t pixels = PictureDibPixelBytes(header);
    uint32_t packed = blob.U32(PICTURE_PACKED_AT);
    if (pixels == 0 || pixels != blob.U32(PICTURE_PIXELS_AT) || packed != blob.size - PICTURE_STREAM_AT)
        return PayloadError::DamagedPicture;
    info->width = static_cast<int32_t>(ReadLE32(header + PICTURE_DIB_WIDTH_AT));
    info->height = static_cast<int32_t>(ReadLE32(header + PICTURE_DIB_HEIGHT_AT));
    info->pixelBytes = pixels;
    info->packedSize = packed;
    info->dibHeader = header;
    return PayloadError::Ok;
}

PayloadError DecodePicture(ByteView blob, const PictureInfo& info, unsigned char* pixels)
{
    if (!blob.Has(PICTURE_STREAM_AT, info.packedSize))
        return PayloadError::DamagedPicture;
    SizeT produced = info.pixelBytes;
    SizeT consumed = info.packedSize;
    ELzmaStatus status;
    // The output is the dictionary: no match reaches outside the picture.
    SRes result = LzmaDecode(pixels, &produced, blob.data + PICTURE_STREAM_AT, &consumed,
                             blob.data + PICTURE_PROPERTIES_AT, LZMA_PROPERTIES_SIZE, LZMA_FINISH_END, &status,
                             &g_lzmaHeap);
    if (result == SZ_ERROR_MEM)
        return PayloadError::OutOfMemory;
    // An end marker, input left over or short output are all damage.
    if (result != SZ_OK || status != LZMA_STATUS_MAYBE_FINISHED_WITHOUT_MARK || produced != info.pixelBytes ||
        consumed != info.packedSize)
        return PayloadError::DamagedPicture;
    return PayloadError::Ok;
}
