#include "pe_writer.h"

#include <algorithm>
#include <cstdio>

#include "archive.h"
#include "pack.h"

namespace {

// In the optional header; the same in PE32 and PE32+.
const size_t SIZE_OF_INITIALIZED_DATA_AT = 8;
const size_t SIZE_OF_IMAGE_AT = 56;

const uint32_t SCN_INITIALIZED_DATA = 0x40;

const size_t PE_DIRECTORY_BASERELOC = 5;
const size_t DIRECTORY_ENTRY_SIZE = 8;
const char RELOC_SECTION[] = ".reloc";

bool IsPowerOfTwo(uint32_t value)
{
    return value != 0 && (value & (value - 1)) == 0;
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

}  // namespace

PackError CheckRewritable(ByteView stub, const PeLayout& layout, std::string* detail)
{
    const PeHeaders& headers = layout.headers;
    if (headers.directoryCount > PE_DIRECTORY_SECURITY && headers.directories[PE_DIRECTORY_SECURITY].size != 0) {
        *detail = "at " + HexNumber(headers.directories[PE_DIRECTORY_SECURITY].address);
        return PackError::StubSigned;
    }
    if (layout.imageEnd > stub.size) {
        *detail = "its sections end at " + HexNumber(layout.imageEnd) + ", past its end " + HexNumber(stub.size);
        return PackError::StubDamaged;
    }
    if (stub.size > layout.imageEnd) {
        *detail = std::to_string(stub.size - layout.imageEnd) + " bytes after its last section, from " +
                  HexNumber(layout.imageEnd);
        return PackError::StubTrailingData;
    }
    if (!IsPowerOfTwo(layout.fileAlignment) || !IsPowerOfTwo(layout.sectionAlignment) ||
        layout.sectionAlignment < layout.fileAlignment) {
        *detail = "section alignment " + HexNumber(layout.sectionAlignment) + ", file alignment " + HexNumber(layout.fileAlignment);
        return PackError::StubDamaged;
    }
    if (layout.resourceSection < 0) {
        *detail = "no section starts where its resource directory points";
        return PackError::StubNotLauncher;
    }
    const PeSection& resources = layout.sections[static_cast<size_t>(layout.resourceSection)];
    const PeDirectory& directory = headers.directories[PE_DIRECTORY_RESOURCE];
    if (directory.size > resources.VirtualExtent()) {
        *detail = "its resource directory is larger than the section " + resources.name;
        return PackError::StubDamaged;
    }
    // Before the resources in the file: every section but those that move.
    std::vector<size_t> after = SectionsAfterResources(layout);
    for (size_t i = 0; i < layout.sections.size(); ++i) {
        const PeSection& section = layout.sections[i];
        bool moves = std::find(after.begin(), after.end(), i) != after.end();
        if (!moves && static_cast<int>(i) != layout.resourceSection && section.rawSize != 0 &&
            uint64_t(section.rawPointer) + section.rawSize > resources.rawPointer) {
            *detail = "the section " + section.name + " lies after the resources in the file";
            return PackError::StubLayout;
        }
    }
    if (after.size() > 1 || (after.size() == 1 && layout.sections[after[0]].name != RELOC_SECTION)) {
        *detail = "the section " + layout.sections[after.back()].name + " follows the resources; only " +
                  RELOC_SECTION + " can move";
        return PackError::StubLayout;
    }
    if (after.size() == 1) {
        const PeSection& reloc = layout.sections[after[0]];
        if (reloc.rawSize != 0 && reloc.rawPointer < uint64_t(resources.rawPointer) + resources.rawSize) {
            *detail = "the section " + reloc.name + " lies before the resources in the file";
            return PackError::StubLayout;
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
            return PackError::StubLayout;
        }
    }
    return PackError::Ok;
}

PackError ReplaceResourceSection(ByteView stub, const PeLayout& layout, const ByteBuffer& resources,
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
        *detail = "it would end at " + HexNumber(end);
        return PackError::ImageTooLarge;
    }

    out->assign(stub.data, stub.data + old.rawPointer);
    PutBytes(out, resources);
    out->resize(static_cast<size_t>(old.rawPointer + rawSize), 0);
    uint64_t resourcesHeader = SectionHeaderAt(layout, static_cast<size_t>(layout.resourceSection));
    SetU32(out, resourcesHeader + PE_SECTION_VIRTUAL_SIZE_AT, static_cast<uint32_t>(resources.size()));
    SetU32(out, resourcesHeader + PE_SECTION_RAW_SIZE_AT, static_cast<uint32_t>(rawSize));
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
        SetU32(out, header + PE_SECTION_VIRTUAL_ADDRESS_AT, static_cast<uint32_t>(address));
        SetU32(out, header + PE_SECTION_RAW_POINTER_AT, static_cast<uint32_t>(pointer));
        const PeDirectory& relocations = layout.headers.directories[PE_DIRECTORY_BASERELOC];
        if (layout.headers.directoryCount > PE_DIRECTORY_BASERELOC && relocations.address >= reloc->virtualAddress)
            SetU32(out, layout.directoriesAt + PE_DIRECTORY_BASERELOC * DIRECTORY_ENTRY_SIZE,
                   static_cast<uint32_t>(relocations.address - reloc->virtualAddress + address));
        imageSize = address + reloc->VirtualExtent();
    }
    for (const PeSection& section : layout.sections)
        if (section.virtualAddress < old.virtualAddress)
            imageSize = std::max<uint64_t>(imageSize, uint64_t(section.virtualAddress) + section.VirtualExtent());
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
    return PackError::Ok;
}

uint64_t PeChecksumOffset(const PeLayout& layout)
{
    return layout.optionalAt + PE_CHECKSUM_AT;
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
