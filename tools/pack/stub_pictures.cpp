// Compressing the launcher's pictures in a stub, and reading them back.
#include "stub_pictures.h"

#include <algorithm>
#include <cstring>

#include "brand_parts.h"
#include "compress.h"
#include "compressed_picture.h"
#include "lzma_heap.h"
#include "payload_formats.h"

#include "LzmaEnc.h"

namespace {

// The encoder's settings, by measurement on the stock pictures: rows of
// 24-bit pixels repeat byte patterns at every alignment, so position bits
// (pb, lp) do not pay and four literal context bits (lc) do; 273 fast bytes
// and the binary-tree match finder find the long runs of a flat splash.
const int PICTURE_LC = 4;
const int PICTURE_LP = 0;
const int PICTURE_PB = 0;
const int PICTURE_FAST_BYTES = 273;
const uint32_t SMALLEST_DICTIONARY = 1 << 12;

const PictureSlot* const SLOTS[] = {&SPLASH_SLOT, &BUTTON_SLOTS[0], &BUTTON_SLOTS[1], &BUTTON_SLOTS[2]};

ResourceKey PictureType()
{
    ResourceKey key;
    key.named = true;
    const char* name = PICTURE_RESOURCE_TYPE;
    key.name.assign(name, name + strlen(name));
    return key;
}

std::string KeyText(const ResourceKey& key)
{
    return key.named ? Utf16ToUtf8(key.name) : std::to_string(key.id);
}

// A directory entry below key in dir, made when missing.
ResourceDirectory& SubdirectoryOf(ResourceDirectory& dir, const ResourceKey& key)
{
    ResourceEntry* entry = dir.Find(key);
    if (entry == nullptr) {
        ResourceEntry made;
        made.key = key;
        made.directory.reset(new ResourceDirectory);
        entry = &dir.Insert(std::move(made));
    }
    return *entry->directory;
}

// Whether the tree holds a bitmap for any of the launcher's pictures.
bool HasPictureBitmaps(const ResourceDirectory& root)
{
    for (const PictureSlot* slot : SLOTS) {
        const ResourceDirectory* languages = FindResourceLanguages(root, RESOURCE_BITMAP, slot->id);
        if (languages != nullptr && !languages->entries.empty())
            return true;
    }
    return false;
}

// Moves each picture's bitmaps, every language, into compressed pictures.
// Counts what moved; a bitmap the format cannot hold stays, named in a warning.
PackError MovePictures(ResourceDirectory& root, const std::string& stubName, unsigned* moved, PackResult* result)
{
    *moved = 0;
    ResourceEntry* bitmaps = root.Find(ResourceKey::Id(RESOURCE_BITMAP));
    if (bitmaps == nullptr || !bitmaps->directory)
        return PackError::Ok;
    std::vector<std::pair<uint16_t, ResourceEntry>> pictures;
    for (const PictureSlot* slot : SLOTS) {
        ResourceEntry* name = bitmaps->directory->Find(ResourceKey::Id(slot->id));
        if (name == nullptr || !name->directory)
            continue;
        std::string what = "bitmap " + std::to_string(slot->id) + " (the " + slot->role + ")";
        std::vector<ResourceEntry>& languages = name->directory->entries;
        for (size_t i = 0; i < languages.size();) {
            if (languages[i].directory || !PictureFitsFormat(ByteView(languages[i].data))) {
                result->warnings.push_back(stubName + ": " + what + " stays uncompressed: compressed pictures hold "
                                           "24-bit bitmaps with a 40-byte header and nothing after their pixels");
                ++i;
                continue;
            }
            ResourceEntry picture;
            picture.key = languages[i].key;
            picture.codePage = languages[i].codePage;
            PackError error = EncodePicture(ByteView(languages[i].data), &picture.data);
            if (error != PackError::Ok)
                return Fail(result, error, stubName, what);
            pictures.emplace_back(slot->id, std::move(picture));
            languages.erase(languages.begin() + static_cast<std::ptrdiff_t>(i));
        }
        if (languages.empty())
            bitmaps->directory->Remove(ResourceKey::Id(slot->id));
    }
    if (bitmaps->directory->entries.empty())
        root.Remove(ResourceKey::Id(RESOURCE_BITMAP));
    for (auto& picture : pictures) {
        ResourceDirectory& languages = SubdirectoryOf(SubdirectoryOf(root, PictureType()), ResourceKey::Id(picture.first));
        languages.Remove(picture.second.key);
        languages.Insert(std::move(picture.second));
    }
    *moved = static_cast<unsigned>(pictures.size());
    return PackError::Ok;
}

// Decodes a compressed picture into the bitmap resource it stands for.
PayloadError DecodeToDib(ByteView blob, ByteBuffer* dib)
{
    PictureInfo info;
    PayloadError error = ReadPictureHeader(blob, &info);
    if (error != PayloadError::Ok)
        return error;
    dib->assign(info.dibHeader, info.dibHeader + PICTURE_DIB_HEADER_SIZE);
    dib->resize(PICTURE_DIB_HEADER_SIZE + info.pixelBytes);
    return DecodePicture(blob, info, dib->data() + PICTURE_DIB_HEADER_SIZE);
}

}  // namespace

bool StubReadsCompressedPictures(const unsigned char* image, size_t size)
{
    return StubListsFormat(image, size, PAYLOAD_FORMAT_PICTURES);
}

bool PictureFitsFormat(ByteView dib)
{
    if (!dib.Has(0, PICTURE_DIB_HEADER_SIZE))
        return false;
    uint32_t pixels = PictureDibPixelBytes(dib.data);
    return pixels != 0 && dib.size == PICTURE_DIB_HEADER_SIZE + pixels;
}

PackError EncodePicture(ByteView dib, ByteBuffer* blob)
{
    uint32_t pixels = PictureDibPixelBytes(dib.data);
    CLzmaEncProps props;
    LzmaEncProps_Init(&props);
    props.level = 9;
    props.dictSize = std::max(pixels, SMALLEST_DICTIONARY);
    props.lc = PICTURE_LC;
    props.lp = PICTURE_LP;
    props.pb = PICTURE_PB;
    props.algo = 1;
    props.fb = PICTURE_FAST_BYTES;
    props.btMode = 1;
    props.numHashBytes = 4;
    props.numThreads = 1;
    // Room for pixels that do not compress: LZMA adds a little to them.
    size_t room = pixels + pixels / 2 + 1024;
    blob->assign(PICTURE_STREAM_AT + room, 0);
    SizeT packed = room;
    unsigned char properties[LZMA_PROPERTIES_SIZE];
    SizeT propertiesSize = sizeof properties;
    SRes result = LzmaEncode(blob->data() + PICTURE_STREAM_AT, &packed, dib.data + PICTURE_DIB_HEADER_SIZE, pixels,
                             &props, properties, &propertiesSize, 0, nullptr, &g_lzmaHeap, &g_lzmaHeap);
    if (result == SZ_ERROR_MEM)
        return PackError::OutOfMemory;
    if (result != SZ_OK || propertiesSize != LZMA_PROPERTIES_SIZE)
        return PackError::CompressionFailed;
    blob->resize(PICTURE_STREAM_AT + packed);
    memcpy(blob->data(), PICTURE_MAGIC, sizeof PICTURE_MAGIC);
    SetU16(blob, PICTURE_VERSION_AT, PICTURE_VERSION);
    SetU16(blob, PICTURE_CODEC_AT, PICTURE_CODEC_LZMA);
    SetU32(blob, PICTURE_PIXELS_AT, pixels);
    SetU32(blob, PICTURE_PACKED_AT, static_cast<uint32_t>(packed));
    memcpy(blob->data() + PICTURE_PROPERTIES_AT, properties, sizeof properties);
    memcpy(blob->data() + PICTURE_DIB_HEADER_AT, dib.data, PICTURE_DIB_HEADER_SIZE);

    ByteBuffer back;
    PayloadError decoded = DecodeToDib(ByteView(*blob), &back);
    if (decoded == PayloadError::OutOfMemory)
        return PackError::OutOfMemory;
    if (decoded != PayloadError::Ok || back.size() != dib.size || memcmp(back.data(), dib.data, dib.size) != 0)
        return PackError::CompressionFailed;
    return PackError::Ok;
}

PackError CompressStubPictures(ByteBuffer* stub, const std::string& stubName, PackResult* result)
{
    ResourceDirectory root;
    uint32_t rva = 0;
    std::string detail;
    if (!ReadImageResources(ByteView(*stub), &root, &rva, &detail) || !HasPictureBitmaps(root))
        return PackError::Ok;  // nothing to compress
    if (!StubReadsCompressedPictures(stub->data(), stub->size())) {
        result->warnings.push_back(stubName + ": its pictures stay uncompressed: it does not say it reads "
                                   "compressed pictures (no " PAYLOAD_FORMAT_PICTURES " under " PAYLOAD_FORMATS_KEY
                                   "); a newer launcher makes a smaller file");
        return PackError::Ok;
    }
    PeLayout layout;
    PackResult unreadable;
    if (ReadStubResources(ByteView(*stub), stubName, &layout, &root, &rva, &unreadable) != PackError::Ok) {
        std::string why = PackErrorText(unreadable.error);
        result->warnings.push_back(stubName + ": its pictures stay uncompressed: " + why +
                                   (unreadable.detail.empty() ? "" : ": " + unreadable.detail));
        return PackError::Ok;
    }
    unsigned moved = 0;
    if (MovePictures(root, stubName, &moved, result) != PackError::Ok)
        return result->error;
    if (moved == 0)
        return PackError::Ok;
    ByteBuffer rewritten;
    PackError error = ReplaceResourceSection(ByteView(*stub), layout, WriteResourceTree(root, rva), &rewritten, &detail);
    if (error != PackError::Ok)
        return Fail(result, error, stubName, detail);
    stub->swap(rewritten);
    return PackError::Ok;
}

StubPicture ReadStubPicture(const ResourceDirectory& root, uint16_t id)
{
    StubPicture picture;
    const ResourceDirectory* bitmap = FindResourceLanguages(root, RESOURCE_BITMAP, id);
    if (bitmap != nullptr && !bitmap->entries.empty() && !bitmap->entries[0].directory) {
        picture.present = true;
        picture.dib = bitmap->entries[0].data;
        picture.storedBytes = static_cast<uint32_t>(picture.dib.size());
        return picture;
    }
    const ResourceEntry* type = root.Find(PictureType());
    const ResourceEntry* name = type && type->directory ? type->directory->Find(ResourceKey::Id(id)) : nullptr;
    if (name == nullptr || !name->directory || name->directory->entries.empty() ||
        name->directory->entries[0].directory)
        return picture;
    const ByteBuffer& blob = name->directory->entries[0].data;
    picture.compressed = true;
    picture.storedBytes = static_cast<uint32_t>(blob.size());
    picture.error = DecodeToDib(ByteView(blob), &picture.dib);
    picture.present = picture.error == PayloadError::Ok;
    if (!picture.present)
        picture.dib.clear();
    return picture;
}

PayloadError FindPictureDamage(const ResourceDirectory& root, std::string* which)
{
    const ResourceEntry* type = root.Find(PictureType());
    if (type == nullptr || !type->directory)
        return PayloadError::Ok;
    for (const ResourceEntry& name : type->directory->entries) {
        if (!name.directory)
            continue;
        for (const ResourceEntry& language : name.directory->entries) {
            ByteBuffer dib;
            PayloadError error = language.directory ? PayloadError::UnknownPicture
                                                    : DecodeToDib(ByteView(language.data), &dib);
            if (error != PayloadError::Ok) {
                *which = KeyText(name.key);
                return error;
            }
        }
    }
    return PayloadError::Ok;
}
