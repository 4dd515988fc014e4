#include "pe_image.h"

#include <algorithm>
#include <cstring>

#include "platform.h"
#include "version_block.h"

namespace {

// In the optional header.
const size_t SECTION_ALIGNMENT_AT = 32;
const size_t FILE_ALIGNMENT_AT = 36;
const size_t PE32_DIRECTORIES_AT = 96;
const size_t PE32_PLUS_DIRECTORIES_AT = 112;
const size_t FILE_HEADER_SIZE = 4 + 20;  // the signature and the file header
// In a section header.
const size_t CHARACTERISTICS_AT = 36;

const char LAUNCHER_INTERNAL_NAME[] = "Quorvane";

// Of a directory's entries filed under a number, as version blocks are, the
// lowest: the first of them in a written tree, so that rewriting the tree
// never makes another one the first.
const ResourceEntry* LowestNumberedEntry(const ResourceDirectory& directory)
{
    const ResourceEntry* lowest = nullptr;
    for (const ResourceEntry& entry : directory.entries)
        if (!entry.key.named && (lowest == nullptr || entry.key.id < lowest->key.id))
            lowest = &entry;
    return lowest;
}

bool ReadImageVersionBlock(ByteView image, VersionNode* block)
{
    ResourceDirectory root;
    uint32_t rva = 0;
    std::string detail;
    if (!ReadImageResources(image, &root, &rva, &detail))
        return false;
    // Three levels: the type, a name, a language; then the data.
    const ResourceEntry* entry = root.Find(ResourceKey::Id(RESOURCE_VERSION));
    for (int level = 0; level < 2 && entry != nullptr; ++level)
        entry = entry->directory ? LowestNumberedEntry(*entry->directory) : nullptr;
    return entry != nullptr && !entry->directory && ReadVersionBlock(ByteView(entry->data), block);
}

}  // namespace

bool ReadPeLayout(ByteView bytes, PeLayout* layout)
{
    *layout = PeLayout();
    PeHeaders& headers = layout->headers;
    if (!ParsePeHeaders(bytes.data, bytes.size, &headers))
        return false;
    if ((headers.magic != PE32_MAGIC && headers.magic != PE32_PLUS_MAGIC) || headers.sectionCount == 0 ||
        headers.sectionCount > PE_MAX_SECTIONS || headers.sizeOfHeaders == 0)
        return false;
    layout->optionalAt = headers.ntOffset + static_cast<uint64_t>(FILE_HEADER_SIZE);
    layout->directoriesAt =
        layout->optionalAt + (headers.magic == PE32_MAGIC ? PE32_DIRECTORIES_AT : PE32_PLUS_DIRECTORIES_AT);
    if (!bytes.Has(layout->optionalAt, PE_CHECKSUM_AT + 4) ||
        !bytes.Has(headers.sectionTable, uint64_t(headers.sectionCount) * PE_SECTION_HEADER_SIZE))
        return false;
    layout->fileAlignment = bytes.U32(layout->optionalAt + FILE_ALIGNMENT_AT);
    layout->sectionAlignment = bytes.U32(layout->optionalAt + SECTION_ALIGNMENT_AT);
    layout->imageEnd = headers.sizeOfHeaders;
    for (unsigned i = 0; i < headers.sectionCount; ++i) {
        uint64_t at = headers.sectionTable + uint64_t(i) * PE_SECTION_HEADER_SIZE;
        PeSection section;
        for (size_t k = 0; k < 8 && bytes.U8(at + k) != 0; ++k)
            section.name.push_back(static_cast<char>(bytes.U8(at + k)));
        section.virtualSize = bytes.U32(at + PE_SECTION_VIRTUAL_SIZE_AT);
        section.virtualAddress = bytes.U32(at + PE_SECTION_VIRTUAL_ADDRESS_AT);
        section.rawSize = bytes.U32(at + PE_SECTION_RAW_SIZE_AT);
        section.rawPointer = bytes.U32(at + PE_SECTION_RAW_POINTER_AT);
        section.characteristics = bytes.U32(at + CHARACTERISTICS_AT);
        if (section.rawSize != 0)
            layout->imageEnd = std::max<uint64_t>(layout->imageEnd, uint64_t(section.rawPointer) + section.rawSize);
        layout->sections.push_back(section);
    }
    if (headers.directoryCount > PE_DIRECTORY_RESOURCE) {
        uint32_t rva = headers.directories[PE_DIRECTORY_RESOURCE].address;
        for (size_t i = 0; i < layout->sections.size() && rva != 0; ++i)
            if (layout->sections[i].virtualAddress == rva && layout->sections[i].rawSize != 0)
                layout->resourceSection = static_cast<int>(i);
    }
    return true;
}

bool FindResourceSection(ByteView bytes, const PeLayout& layout, ByteView* section, uint32_t* rva)
{
    if (layout.resourceSection < 0)
        return false;
    const PeSection& resources = layout.sections[static_cast<size_t>(layout.resourceSection)];
    // The raw data holds the resources; the loader fills any rest with zeros.
    uint32_t size = std::min(resources.rawSize, resources.VirtualExtent());
    if (!bytes.Has(resources.rawPointer, size))
        return false;
    *section = ByteView(bytes.data + resources.rawPointer, size);
    *rva = resources.virtualAddress;
    return true;
}

bool ReadImageResources(ByteView image, ResourceDirectory* root, uint32_t* rva, std::string* detail)
{
    PeLayout layout;
    ByteView section;
    return ReadPeLayout(image, &layout) && FindResourceSection(image, layout, &section, rva) &&
           ReadResourceTree(section, *rva, root, detail);
}

bool HasPeSignatures(const unsigned char* bytes, size_t size)
{
    PeHeaders headers;
    return ParsePeHeaders(bytes, size, &headers);
}

bool FindVersionString(const unsigned char* image, size_t size, const char* key, std::string* value)
{
    VersionNode block;
    if (!ReadImageVersionBlock(ByteView(image, size), &block))
        return false;
    std::u16string wanted(key, key + strlen(key));
    for (const VersionNode* table : VersionStringTables(block))
        for (const VersionNode& string : table->children) {
            if (string.key != wanted)
                continue;
            value->clear();
            for (char16_t c : VersionStringValue(string))
                value->push_back(c < 0x80 ? static_cast<char>(c) : '?');
            return true;
        }
    return false;
}

bool IsLauncherImage(const unsigned char* image, size_t size)
{
    std::string name;
    return FindVersionString(image, size, "InternalName", &name) && name == LAUNCHER_INTERNAL_NAME;
}
