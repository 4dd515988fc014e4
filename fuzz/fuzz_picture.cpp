// Fuzz target over the compressed pictures' reader (payload/compressed_picture.h):
// what the launcher decodes from its own resources, and the packer's list and
// check from a stub's. The input is one blob.
//
// Checks:
//   - what the header reader accepts holds at most PICTURE_MAX_PIXEL_BYTES of
//     pixels, agreeing with its DIB header, and its stream lies inside the input;
//   - the decoder writes into a buffer of exactly those pixel bytes (ASan
//     reports a byte more) and gives the same verdict twice;
//   - a picture that decodes (of up to 64 KiB of pixels), encoded again by
//     the packer, decodes to the same pixels.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "compressed_picture.h"
#include "stub_pictures.h"

namespace {

const uint32_t MAX_REENCODED = 64 << 10;

[[noreturn]] void Fail(const char* what)
{
    fprintf(stderr, "fuzz_picture: %s\n", what);
    abort();
}

void Check(bool ok, const char* what)
{
    if (!ok)
        Fail(what);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ByteView blob(data, size);
    PictureInfo info;
    if (ReadPictureHeader(blob, &info) != PayloadError::Ok)
        return 0;
    Check(info.pixelBytes > 0 && info.pixelBytes <= PICTURE_MAX_PIXEL_BYTES, "accepted pixels over the cap");
    Check(info.pixelBytes == PictureDibPixelBytes(info.dibHeader), "accepted pixels its DIB header does not describe");
    Check(PICTURE_STREAM_AT + uint64_t(info.packedSize) == size, "accepted a stream that is not the rest of the blob");

    // Exactly the pixel bytes, on the heap: a write past them is ASan's to see.
    std::vector<unsigned char> pixels(info.pixelBytes);
    PayloadError first = DecodePicture(blob, info, pixels.data());
    std::vector<unsigned char> again(info.pixelBytes);
    Check(DecodePicture(blob, info, again.data()) == first, "the same blob decoded twice gives two verdicts");
    if (first != PayloadError::Ok)
        return 0;
    Check(pixels == again, "the same blob decoded twice gives two pictures");

    // Encoding runs at LZMA's slowest settings: only smaller pictures, so
    // that the fuzzer keeps its pace. The packer decodes what it encoded and
    // compares.
    if (info.pixelBytes > MAX_REENCODED)
        return 0;
    std::vector<unsigned char> dib(info.dibHeader, info.dibHeader + PICTURE_DIB_HEADER_SIZE);
    dib.insert(dib.end(), pixels.begin(), pixels.end());
    Check(PictureFitsFormat(ByteView(dib)), "a decoded picture is one the packer would not compress");
    ByteBuffer encoded;
    Check(EncodePicture(ByteView(dib), &encoded) == PackError::Ok, "a decoded picture does not compress again");
    return 0;
}
