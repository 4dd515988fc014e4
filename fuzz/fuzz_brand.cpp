// Fuzz target over what branding reads from files it is given: pictures
// (stb_image behind the packer's size checks), icon files, and a stub's
// resources (the directory tree, version blocks, dialog templates, string
// blocks, icon groups). Every input goes through every reader.
//
// Checks:
//   - a picture decodes only at the size its header declares, into a 24-bit
//     bottom-up bitmap with a 40-byte header and every row there;
//   - every pixel comes from the file: decoded once more by a copy of the
//     readers whose locals start as a pattern, a picture gives the same
//     result (a palette index past the palette made stb_image read its
//     palette array where it never wrote);
//   - every icon image found lies inside the file and is at most 256 x 256,
//     and the images add up to no more than the file: entries that share
//     one image must not make copies of it;
//   - the data a resource tree reader gives adds up to no more than the
//     section it was read from, for the same reason;
//   - what a refusal says holds no control bytes: the file's own bytes in it
//     (an unknown PNG chunk's type) are escaped;
//   - whatever a resource reader accepts, its writer writes back so that
//     reading that again and writing it once more gives the same bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "brand.h"
#include "picture.h"
#include "resources.h"

// The same readers once more, built with every local the compiler can fill
// filled with a pattern before it is written (fuzz/CMakeLists.txt).
PackError DecodePicturePatterned(ByteView file, unsigned width, unsigned height, ByteBuffer* dib, unsigned found[2],
                                 std::string* detail);

namespace {

const unsigned MAX_FUZZ_PICTURE = 1024;  // each side; larger ones are only sized

[[noreturn]] void Fail(const char* what)
{
    fprintf(stderr, "fuzz_brand: %s\n", what);
    abort();
}

void Check(bool ok, const char* what)
{
    if (!ok)
        Fail(what);
}

void CheckPrintable(const std::string& detail)
{
    for (char c : detail)
        Check(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F, "a refusal's words carry control bytes");
}

void FuzzPicture(ByteView input)
{
    ByteBuffer dib;
    unsigned found[2];
    std::string detail;
    PackError sized = DecodePicture(input, 0, 0, &dib, found, &detail);
    CheckPrintable(detail);
    if (sized != PackError::WrongPictureSize)
        return;
    unsigned width = found[0], height = found[1];
    if (width == 0 || height == 0 || width > MAX_FUZZ_PICTURE || height > MAX_FUZZ_PICTURE)
        return;
    PackError error = DecodePicture(input, width, height, &dib, found, &detail);
    ByteBuffer again;
    std::string why;
    PackError patterned = DecodePicturePatterned(input, width, height, &again, found, &why);
    Check(patterned == error && why == detail && again == dib,
          "a picture decodes otherwise when its decoder's locals start otherwise");
    CheckPrintable(detail);
    if (error != PackError::Ok)
        return;
    int32_t w = 0, h = 0;
    uint16_t bits = 0;
    Check(ReadBitmapHeader(ByteView(dib), &w, &h, &bits), "a decoded picture has no bitmap header");
    Check(w == int32_t(width) && h == int32_t(height) && bits == 24, "a decoded picture has another size or depth");
    Check(dib.size() == 40 + (size_t(width) * 3 + 3) / 4 * 4 * height, "a decoded picture's rows are not all there");
}

void FuzzIcon(ByteView input)
{
    std::vector<IconImage> images;
    std::string detail;
    PackError error = ReadIconFile(input, &images, &detail);
    CheckPrintable(detail);
    if (error != PackError::Ok)
        return;
    uint64_t total = 0;
    for (const IconImage& image : images)
        total += image.data.size();
    Check(total <= input.size, "an icon file's images add up to more than the file");
    for (const IconImage& image : images) {
        Check(!image.data.empty() && image.data.size() <= input.size, "an icon image is larger than its file");
        Check(image.width >= 1 && image.width <= 256 && image.height >= 1 && image.height <= 256,
              "an icon image is larger than 256 x 256");
        IconGroupEntry entry = IconGroupEntryFor(image, 1);
        Check(entry.bytes == image.data.size(), "an icon group entry gives another size");
    }
}

// Read, write, read, write: the two writes agree.
template <class Model>
void RoundTrip(ByteView input, bool (*read)(ByteView, Model*), ByteBuffer (*write)(const Model&), const char* what)
{
    Model first;
    if (!read(input, &first))
        return;
    ByteBuffer once = write(first);
    Model second;
    Check(read(ByteView(once), &second), what);
    Check(write(second) == once, what);
}

ByteBuffer WriteVersion(const VersionNode& root)
{
    ByteBuffer block;
    if (!WriteVersionBlock(root, &block))
        block.clear();
    return block;
}

uint64_t TreeBytes(const ResourceDirectory& directory)
{
    uint64_t bytes = 0;
    for (const ResourceEntry& entry : directory.entries)
        bytes += entry.directory ? TreeBytes(*entry.directory) : entry.data.size();
    return bytes;
}

bool ReadTree(ByteView section, ResourceDirectory* root)
{
    std::string detail;
    if (!ReadResourceTree(section, 0, root, &detail))
        return false;
    Check(TreeBytes(*root) <= section.size, "a resource tree's data adds up to more than its section");
    return true;
}

ByteBuffer WriteTree(const ResourceDirectory& root)
{
    return WriteResourceTree(root, 0);
}

bool ReadStrings(ByteView bytes, std::vector<std::u16string>* strings)
{
    strings->resize(STRINGS_PER_BLOCK);
    return ReadStringBlock(bytes, strings->data());
}

ByteBuffer WriteStrings(const std::vector<std::u16string>& strings)
{
    return WriteStringBlock(strings.data());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ByteView input(data, size);
    FuzzPicture(input);
    FuzzIcon(input);
    RoundTrip<ResourceDirectory>(input, ReadTree, WriteTree, "a resource tree does not read back as written");
    RoundTrip<DialogTemplate>(input, ReadDialogTemplate, WriteDialogTemplate, "a dialog template does not read back");
    RoundTrip<std::vector<std::u16string>>(input, ReadStrings, WriteStrings, "a string block does not read back");
    RoundTrip<std::vector<IconGroupEntry>>(input, ReadIconGroup, WriteIconGroup, "an icon group does not read back");
    VersionNode version;
    if (ReadVersionBlock(input, &version) && !WriteVersion(version).empty())
        RoundTrip<VersionNode>(input, ReadVersionBlock, WriteVersion, "a version block does not read back");
    BrandingReport report;
    DescribeBranding(input, &report);
    return 0;
}
