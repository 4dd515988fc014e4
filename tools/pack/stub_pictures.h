// The launcher's pictures in a compressed launcher's stub: the splash and the
// button pictures moved out of RT_BITMAP into compressed pictures
// (payload/compressed_picture.h), and read back for list and check.
//
// A build with --compress lzma calls CompressStubPictures on the stub it is
// about to write, after branding. The stub's resources are read into the
// model branding uses, each picture that the format holds is compressed and
// filed under PICTURE_RESOURCE_TYPE with its id and language, its bitmap is
// removed, and the image is laid out again around a fresh resource section.
// Only a stub that lists PAYLOAD_FORMAT_PICTURES gets them: an older launcher
// would show no pictures. Icons stay where they are, since the shell reads
// RT_ICON and RT_GROUP_ICON from the file to show its icon.
#pragma once

#include <cstdint>
#include <string>

#include "archive.h"
#include "byte_io.h"
#include "pack_error.h"
#include "resource_tree.h"

// True when the stub's version block lists PAYLOAD_FORMAT_PICTURES.
bool StubReadsCompressedPictures(const unsigned char* image, size_t size);

// True for a bitmap resource a compressed picture holds: a DIB header the
// format takes (PictureDibPixelBytes) followed by exactly its pixels.
bool PictureFitsFormat(ByteView dib);

// Compresses a bitmap resource that PictureFitsFormat accepts into a blob,
// then decodes the blob once with the launcher's reader to prove it.
// OutOfMemory, or CompressionFailed when it does not decode back.
PackError EncodePicture(ByteView dib, ByteBuffer* blob);

// Replaces *stub (the whole stub) by the same with its pictures compressed,
// when it reads compressed pictures and has any. A picture the format cannot
// hold stays a bitmap; a stub that does not list PAYLOAD_FORMAT_PICTURES or
// cannot be laid out again keeps all its pictures. Each case is a warning in
// result->warnings, and the build goes on. Fails only when the encoder does.
PackError CompressStubPictures(ByteBuffer* stub, const std::string& stubName, PackResult* result);

// A picture as the stub holds it.
struct StubPicture {
    bool present = false;     // a bitmap, or a compressed picture that decodes
    bool compressed = false;  // filed as a compressed picture
    uint32_t storedBytes = 0; // its resource's bytes
    PayloadError error = PayloadError::Ok;  // a compressed picture's damage
    ByteBuffer dib;           // the bitmap resource, decoded where compressed
};

// Picture id in the tree, its first language: the bitmap if there is one
// (as the launcher loads it), else the compressed picture.
StubPicture ReadStubPicture(const ResourceDirectory& root, uint16_t id);

// Decodes every compressed picture in the tree, whatever its id or
// language. The first one that fails, with *which naming it ("129", or its
// name); Ok when all decode.
PayloadError FindPictureDamage(const ResourceDirectory& root, std::string* which);
