// The launcher's pictures and icons as the packer reads them from a product's
// files. Pictures (BMP, PNG, JPEG) are decoded with stb_image and stored as
// what the window needs: a 24-bit bottom-up device-independent bitmap with a
// 40-byte header, which is what RT_BITMAP holds (a BMP file less its 14-byte
// file header). Icon files (.ico) are split into their images.
//
// stb_image is not hardened against hostile files: the dimensions are read
// and checked before anything is decoded, and the input's size is capped.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "byte_io.h"
#include "pack_error.h"
#include "resources.h"

// Larger inputs are refused unread: nothing that big fits the image anyway.
const uint64_t MAX_BRAND_INPUT_SIZE = 0x200000;

// Decodes a picture that must be width x height pixels into *dib. On failure,
// *found holds the size found (for WrongPictureSize) and *detail the decoder's
// words or the first pixel that is not opaque.
PackError DecodePicture(ByteView file, unsigned width, unsigned height, ByteBuffer* dib, unsigned found[2],
                        std::string* detail);

// The size and depth a bitmap resource's header declares; false when it is
// no bitmap with a header of at least 40 bytes.
bool ReadBitmapHeader(ByteView dib, int32_t* width, int32_t* height, uint16_t* bits);

// One image of an icon: as stored (a PNG, or a bitmap with its mask) and what
// it is.
struct IconImage {
    ByteBuffer data;
    unsigned width = 0;
    unsigned height = 0;
    uint16_t bits = 0;
    bool png = false;
    uint8_t colorCount = 0;  // from the icon file's directory
};

// What an icon image (an RT_ICON, or an image of an icon file) is; false when
// it is neither a PNG nor a bitmap icon image of at most 256 x 256 pixels
// whose data is all there. PNG images are decoded in full to be sure.
bool DescribeIconImage(ByteView data, IconImage* image, std::string* detail);

// Splits an icon file into its images, in its directory's order. Fails with
// NotAnIcon or BadIconImage.
PackError ReadIconFile(ByteView file, std::vector<IconImage>* images, std::string* detail);

// The entry of an icon group for an image.
IconGroupEntry IconGroupEntryFor(const IconImage& image, uint16_t id);
