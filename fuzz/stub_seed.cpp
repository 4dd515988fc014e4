// Writes a seed for fuzz_stub from a stub: the virtual address of its
// resource section (4 bytes, little-endian), then the section. A section with
// pictures or icon images is written afresh with each of them cut to its
// first bytes (its header), so that the seed stays small and the fuzzer's
// time goes to the tree, the version block and the rest as the resource
// compiler wrote them; any other section is copied as it is.
// Usage: stub_seed STUB OUT
#include <cstdio>
#include <string>

#include "pe_image.h"
#include "resources.h"

namespace {

const size_t KEPT_PICTURE_BYTES = 64;

bool ReadWholeFile(const char* path, ByteBuffer* bytes)
{
    FILE* file = fopen(path, "rb");
    if (file == nullptr)
        return false;
    unsigned char block[65536];
    size_t got = 0;
    while ((got = fread(block, 1, sizeof block, file)) > 0)
        bytes->insert(bytes->end(), block, block + got);
    bool read = !ferror(file);
    fclose(file);
    return read;
}

// Cuts every picture and icon image below directory; true when one was cut.
bool CutPictures(ResourceDirectory* directory, bool pictures)
{
    bool cut = false;
    for (ResourceEntry& entry : directory->entries) {
        bool below = pictures || (!entry.key.named && (entry.key.id == RESOURCE_BITMAP || entry.key.id == RESOURCE_ICON));
        if (entry.directory) {
            cut = CutPictures(entry.directory.get(), below) || cut;
        } else if (pictures && entry.data.size() > KEPT_PICTURE_BYTES) {
            entry.data.resize(KEPT_PICTURE_BYTES);
            cut = true;
        }
    }
    return cut;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: stub_seed STUB OUT\n");
        return 2;
    }
    ByteBuffer stub;
    PeLayout layout;
    ByteView section;
    uint32_t rva = 0;
    ResourceDirectory root;
    std::string detail;
    if (!ReadWholeFile(argv[1], &stub) || !ReadPeLayout(ByteView(stub), &layout) ||
        !FindResourceSection(ByteView(stub), layout, &section, &rva) ||
        !ReadResourceTree(section, rva, &root, &detail)) {
        fprintf(stderr, "stub_seed: %s: no resource section that reads %s\n", argv[1], detail.c_str());
        return 1;
    }
    ByteBuffer seed(4);
    WriteLE32(seed.data(), rva);
    if (CutPictures(&root, false))
        PutBytes(&seed, WriteResourceTree(root, rva));
    else
        seed.insert(seed.end(), section.data, section.data + section.size);
    FILE* out = fopen(argv[2], "wb");
    bool written = out != nullptr && fwrite(seed.data(), 1, seed.size(), out) == seed.size();
    if (out != nullptr && fclose(out) != 0)
        written = false;
    if (!written) {
        fprintf(stderr, "stub_seed: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
