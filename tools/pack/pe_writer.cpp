#include "pe_writer.h"

#include <algorithm>
#include <cstdio>

#include "archive.h"

namespace {

// In the optional header; the same in PE32 and PE32+.
const size_t SIZE_OF_INITIALIZED_DATA_AT = 8;
const size_t SECTION_ALIGNMENT_AT = 32;
const size_t FILE_ALIGNMENT_AT = 36;
const size_t SIZE_OF_IMAGE_AT = 56;
const size_t CHECKSUM_AT = 64;
const size_t PE32_DIRECTORIES_AT = 96;
const size_t PE32_PLUS_DIRECTORIES_AT = 112;
const size_t FILE_HEADER_SIZE = 4 + 20;  // the signature and the file header

// In a section header.
const size_t VIRTUAL_SIZE_AT = 8;
const size_t VIRTUAL_ADDRESS_AT = 12;
const size_t RAW_SIZE_AT = 16;
const size_t RAW_POINTER_AT = 20;
const size_t CHARACTERISTICS_AT = 36;
const uint32_t SCN_INITIALIZED_DATA = 0x40;

const size_t PE_DIRECTORY_BASERELOC = 5;
const size_t DIRECTORY_ENTRY_SIZE = 8;
const char RELOC_SECTION[] = ".reloc";

bool IsPowerOfTwo(uint32_t value)
{
    return value != 0 && (value & (value - 1)) == 0;
}

std::string Hex(uint64_t value)
{
    char text[24];
    snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

uint64_t SectionHeaderAt(const PeLayout& layout, size_t index)
{
    return layout.headers.sectionTable + index * PE_SECTION_HEADER_SIZE;
}

// The sections that lie after the resource section in memory.
std::vector<size_t> SectionsAfterResources(const PeLayout& layout)
{
    std::vector<size_t> after;
    const PeSection& resources = layout.sections[static_cast<size_t>(layout.resourceSection)];
    for (size_t i = 0; i < layout.sections.size(); ++i)
        if (layout.sections[i].virtualAddress > resources.virtualAddress)
            after.push_back(i);
    return after;
}

uint32_t VirtualExtent(const PeSection& section)
{
    return section.virtualSize != 0 ? section.virtualSize : section.rawSize;
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
    if (!bytes.Has(layout->optionalAt, CHECKSUM_AT + 4) ||
        !bytes.Has(headers.sectionTable, uint64_t(headers.sectionCount) * PE_SECTION_HEADER_SIZE))
        return false;
    layout->fileAlignment = bytes.U32(layout->optionalAt + FILE_ALIGNMENT_AT);
    layout->sectionAlignment = bytes.U32(layout->optionalAt + SECTION_ALIGNMENT_AT);
    layout->imageEnd = headers.sizeOfHeaders;
    for (unsigned i = 0; i < headers.sectionCount; ++i) {
        uint64_t at = SectionHeaderAt(*layout, i);
        PeSection section;
        for (size_t k = 0; k < 8 && bytes.U8(at + k) != 0; ++k)
            section.name.push_back(static_cast<char>(bytes.U8(at + k)));
        section.virtualSize = bytes.U32(at + VIRTUAL_SIZE_AT);
        section.virtualAddress = bytes.U32(at + VIRTUAL_ADDRESS_AT);
        section.rawSize = bytes.U32(at + RAW_SIZE_AT);
        section.rawPointer = bytes.U32(at + RAW_POINTER_AT);
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
    uint32_t size = std::min(resources.rawSize, VirtualExtent(resources));
    if (!bytes.Has(resources.rawPointer, size))
        return false;
    *section = ByteView(bytes.data + resources.rawPointer, size);
    *rva = resources.virtualAddress;
    return true;
}

BrandError CheckRewritable(ByteView stub, const PeLayout& layout, std::string* detail)
{
    const PeHeaders& headers = layout.headers;
    if (headers.directoryCount > PE_DIRECTORY_SECURITY && headers.directories[PE_DIRECTORY_SECURITY].size != 0) {
        *detail = "at " + Hex(headers.directories[PE_DIRECTORY_SECURITY].address);
        return BrandError::StubSigned;
    }
    if (layout.imageEnd > stub.size) {
        *detail = "its sections end at " + Hex(layout.imageEnd) + ", past its end " + Hex(stub.size);
        return BrandError::StubDamaged;
    }
    if (stub.size > layout.imageEnd) {
        *detail = std::to_string(stub.size - layout.imageEnd) + " bytes after its last section, from " +
                  Hex(layout.imageEnd);
        return BrandError::StubTrailingData;
    }
    if (!IsPowerOfTwo(layout.fileAlignment) || !IsPowerOfTwo(layout.sectionAlignment) ||
        layout.sectionAlignment < layout.fileAlignment) {
        *detail = "section alignment " + Hex(layout.sectionAlignment) + ", file alignment " + Hex(layout.fileAlignment);
        return BrandError::StubDamaged;
    }
    if (layout.resourceSection < 0) {
        *detail = "no section starts where its resource directory points";
        return BrandError::StubNotLauncher;
    }
    const PeSection& resources = layout.sections[static_cast<size_t>(layout.resourceSection)];
    const PeDirectory& directory = headers.directories[PE_DIRECTORY_RESOURCE];
    if (directory.size > VirtualExtent(resources)) {
        *detail = "its resource directory is larger than the section " + resources.name;
        return BrandError::StubDamaged;
    }
    // Before the resources in the file: every section but those that move.
    std::vector<size_t> after = SectionsAfterResources(layout);
    for (size_t i = 0; i < layout.sections.size(); ++i) {
        const PeSection& section = layout.sections[i];
        bool moves = std::find(after.begin(), after.end(), i) != after.end();
        if (!moves && static_cast<int>(i) != layout.resourceSection && section.rawSize != 0 &&
            uint64_t(section.rawPointer) + section.rawSize > resources.rawPointer) {
            *detail = "the section " + section.name + " lies after the resources in the file";
            return BrandError::StubLayout;
        }
    }
    if (after.size() > 1 || (after.size() == 1 && layout.sections[after[0]].name != RELOC_SECTION)) {
        *detail = "the section " + layout.sections[after.back()].name + " follows the resources; only " +
                  RELOC_SECTION + " can move";
        return BrandError::StubLayout;
    }
    if (after.size() == 1) {
        const PeSection& reloc = layout.sections[after[0]];
        if (reloc.rawSize != 0 && reloc.rawPointer < uint64_t(resources.rawPointer) + resources.rawSize) {
            *detail = "the section " + reloc.name + " lies before the resources in the file";
            return BrandError::StubLayout;
        }
    }
    // Nothing but the resources and the relocations may point where things move.
    for (size_t i = 0; i < headers.directoryCount; ++i) {
        if (i == PE_DIRECTORY_SECURITY || i == PE_DIRECTORY_RESOURCE || headers.directories[i].address == 0)
            continue;
        bool inReloc = i == PE_DIRECTORY_BASERELOC && after.size() == 1 &&
                       headers.directories[i].address >= layout.sections[after[0]].virtualAddress;
        if (headers.directories[i].address >= resources.virtualAddress && !inReloc) {
            *detail = "data directory " + std::to_string(i) + " points into the resources or after them";
            return BrandError::StubLayout;
        }
    }
    return BrandError::Ok;
}

BrandError ReplaceResourceSection(ByteView stub, const PeLayout& layout, const ByteBuffer& resources,
                                  ByteBuffer* out, std::string* detail)
{
    const PeSection& old = layout.sections[static_cast<size_t>(layout.resourceSection)];
    std::vector<size_t> after = SectionsAfterResources(layout);
    uint64_t rawSize = AlignUp(resources.size(), layout.fileAlignment);
    uint64_t end = uint64_t(old.rawPointer) + rawSize;
    const PeSection* reloc = after.empty() ? nullptr : &layout.sections[after[0]];
    if (reloc != nullptr)
        end += reloc->rawSize;
    if (end > PAYLOAD_OFFSET) {
        *detail = "it would end at " + Hex(end);
        return BrandError::ImageTooLarge;
    }

    out->assign(stub.data, stub.data + old.rawPointer);
    PutBytes(out, resources);
    out->resize(static_cast<size_t>(old.rawPointer + rawSize), 0);
    uint64_t resourcesHeader = SectionHeaderAt(layout, static_cast<size_t>(layout.resourceSection));
    SetU32(out, resourcesHeader + VIRTUAL_SIZE_AT, static_cast<uint32_t>(resources.size()));
    SetU32(out, resourcesHeader + RAW_SIZE_AT, static_cast<uint32_t>(rawSize));
    SetU32(out, layout.directoriesAt + PE_DIRECTORY_RESOURCE * DIRECTORY_ENTRY_SIZE + 4,
           static_cast<uint32_t>(resources.size()));
    uint64_t imageSize = uint64_t(old.virtualAddress) + resources.size();

    if (reloc != nullptr) {
        // The relocations move to the next free page; their content names
        // places in the code, which stays where it was.
        uint64_t address = AlignUp(uint64_t(old.virtualAddress) + resources.size(), layout.sectionAlignment);
        uint64_t pointer = reloc->rawSize != 0 ? out->size() : 0;
        out->insert(out->end(), stub.data + reloc->rawPointer, stub.data + reloc->rawPointer + reloc->rawSize);
        uint64_t header = SectionHeaderAt(layout, after[0]);
        SetU32(out, header + VIRTUAL_ADDRESS_AT, static_cast<uint32_t>(address));
        SetU32(out, header + RAW_POINTER_AT, static_cast<uint32_t>(pointer));
        const PeDirectory& relocations = layout.headers.directories[PE_DIRECTORY_BASERELOC];
        if (layout.headers.directoryCount > PE_DIRECTORY_BASERELOC && relocations.address >= reloc->virtualAddress)
            SetU32(out, layout.directoriesAt + PE_DIRECTORY_BASERELOC * DIRECTORY_ENTRY_SIZE,
                   static_cast<uint32_t>(relocations.address - reloc->virtualAddress + address));
        imageSize = address + VirtualExtent(*reloc);
    }
    for (const PeSection& section : layout.sections)
        if (section.virtualAddress < old.virtualAddress)
            imageSize = std::max<uint64_t>(imageSize, uint64_t(section.virtualAddress) + VirtualExtent(section));
    SetU32(out, layout.optionalAt + SIZE_OF_IMAGE_AT,
           static_cast<uint32_t>(AlignUp(imageSize, layout.sectionAlignment)));
    if (old.characteristics & SCN_INITIALIZED_DATA) {
        // Whatever the linker counted, it counted this section's raw size.
        uint32_t initialized = stub.U32(layout.optionalAt + SIZE_OF_INITIALIZED_DATA_AT);
        SetU32(out, layout.optionalAt + SIZE_OF_INITIALIZED_DATA_AT,
               static_cast<uint32_t>(initialized - old.rawSize + rawSize));
    }
    uint64_t checksumAt = PeChecksumOffset(layout);
    SetU32(out, checksumAt, PeChecksum(ByteView(*out), checksumAt));
    return BrandError::Ok;
}

uint64_t PeChecksumOffset(const PeLayout& layout)
{
    return layout.optionalAt + CHECKSUM_AT;
}

uint32_t PeChecksum(ByteView image, uint64_t checksumAt)
{
    // Sixteen-bit words summed with the carries folded back in, then the length.
    auto byteAt = [&](uint64_t at) -> uint32_t {
        return at >= image.size || (at >= checksumAt && at < checksumAt + 4) ? 0 : image.U8(at);
    };
    uint64_t sum = 0;
    for (uint64_t at = 0; at < image.size; at += 2) {
        sum += byteAt(at) | byteAt(at + 1) << 8;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint32_t>(sum + image.size);
}
