// Fuzz target over stub recognition: how the packer tells our launcher
// (IsLauncherImage) and a launcher that reads compressed archives
// (StubReadsCompressed), both through the version block that
// FindVersionString finds with the resource tree and version block readers.
//
// Input: 4 bytes giving a resource section's virtual address (little-endian,
// taken below 0x10000000 and rounded down to a page; 0 means one page), then
// the section, whose data entries name addresses in the image. The target
// lays the section into a PE32 image of its own as its one section, so that
// branding can lay the image out again.
//
// Checks:
//   - the values recognition reads are ASCII;
//   - where the image has one version block (name 1, one language) and
//     `list` shows an InternalName or PayloadFormats among its first table's
//     strings (DescribeBranding), recognition reads the same, but for '?' in
//     place of what is not ASCII;
//   - branding the image as the packer does (every version block given a
//     product, company, copyright and version, the tree written afresh and the
//     image laid out again around it) changes neither the InternalName nor the
//     PayloadFormats that recognition reads, nor what it concludes from them.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "brand.h"
#include "compress.h"
#include "payload_formats.h"
#include "pe_image.h"
#include "pe_writer.h"
#include "resources.h"

namespace {

const uint32_t PAGE = 0x1000;
const uint32_t FILE_ALIGNMENT = 0x200;
const uint32_t HEADERS_SIZE = 0x200;
const uint32_t MAX_ADDRESS = 0x10000000;
const size_t NT_AT = 0x40;
const size_t OPTIONAL_AT = NT_AT + 24;
const size_t OPTIONAL_SIZE = 0xE0;  // PE32, with 16 data directories
const size_t DIRECTORIES_AT = OPTIONAL_AT + 96;
const size_t SECTION_AT = OPTIONAL_AT + OPTIONAL_SIZE;

[[noreturn]] void Fail(const char* what)
{
    fprintf(stderr, "fuzz_stub: %s\n", what);
    abort();
}

void Check(bool ok, const char* what)
{
    if (!ok)
        Fail(what);
}

// A PE32 image whose one section, .rsrc, holds section at virtual address rva.
ByteBuffer ImageAround(ByteView section, uint32_t rva)
{
    uint32_t size = static_cast<uint32_t>(section.size);
    uint32_t rawSize = static_cast<uint32_t>(AlignUp(size, FILE_ALIGNMENT));
    ByteBuffer image(HEADERS_SIZE + rawSize, 0);
    image[0] = 'M';
    image[1] = 'Z';
    WriteLE32(&image[0x3C], NT_AT);
    memcpy(&image[NT_AT], "PE\0\0", 4);
    WriteLE16(&image[NT_AT + 4], PE_MACHINE_I386);
    WriteLE16(&image[NT_AT + 6], 1);  // sections
    WriteLE16(&image[NT_AT + 20], OPTIONAL_SIZE);
    WriteLE16(&image[NT_AT + 22], 0x0102);  // an executable for 32-bit machines
    WriteLE16(&image[OPTIONAL_AT], PE32_MAGIC);
    WriteLE32(&image[OPTIONAL_AT + 32], PAGE);  // section alignment
    WriteLE32(&image[OPTIONAL_AT + 36], FILE_ALIGNMENT);
    WriteLE32(&image[OPTIONAL_AT + 56], static_cast<uint32_t>(AlignUp(uint64_t(rva) + size, PAGE)));
    WriteLE32(&image[OPTIONAL_AT + 60], HEADERS_SIZE);
    WriteLE32(&image[OPTIONAL_AT + 92], 16);  // data directories
    WriteLE32(&image[DIRECTORIES_AT + PE_DIRECTORY_RESOURCE * 8], rva);
    WriteLE32(&image[DIRECTORIES_AT + PE_DIRECTORY_RESOURCE * 8 + 4], size);
    memcpy(&image[SECTION_AT], ".rsrc", 5);
    WriteLE32(&image[SECTION_AT + PE_SECTION_VIRTUAL_SIZE_AT], size);
    WriteLE32(&image[SECTION_AT + PE_SECTION_VIRTUAL_ADDRESS_AT], rva);
    WriteLE32(&image[SECTION_AT + PE_SECTION_RAW_SIZE_AT], rawSize);
    WriteLE32(&image[SECTION_AT + PE_SECTION_RAW_POINTER_AT], HEADERS_SIZE);
    WriteLE32(&image[SECTION_AT + 36], 0x40000040);  // initialised data, readable
    if (size != 0)
        memcpy(&image[HEADERS_SIZE], section.data, size);
    return image;
}

// What recognition reads from an image, and what it concludes.
struct Recognition {
    bool named = false;
    std::string internalName;
    bool listed = false;
    std::string formats;
    bool launcher = false;
    bool readsCompressed = false;

    bool operator==(const Recognition& other) const
    {
        return named == other.named && internalName == other.internalName && listed == other.listed &&
               formats == other.formats && launcher == other.launcher && readsCompressed == other.readsCompressed;
    }
};

Recognition Recognise(const ByteBuffer& image)
{
    Recognition seen;
    seen.named = FindVersionString(image.data(), image.size(), "InternalName", &seen.internalName);
    seen.listed = FindVersionString(image.data(), image.size(), PAYLOAD_FORMATS_KEY, &seen.formats);
    seen.launcher = IsLauncherImage(image.data(), image.size());
    seen.readsCompressed = StubReadsCompressed(image.data(), image.size());
    for (char c : seen.internalName + seen.formats)
        Check(static_cast<unsigned char>(c) < 0x80, "recognition read a character beyond ASCII");
    return seen;
}

// True when the tree holds one version block, as name 1 in one language: the
// block `list` reports and recognition reads are then the same.
bool HasOneVersionBlock(const ResourceDirectory& root)
{
    const ResourceEntry* type = root.Find(ResourceKey::Id(RESOURCE_VERSION));
    if (type == nullptr || !type->directory || type->directory->entries.size() != 1)
        return false;
    const ResourceEntry& name = type->directory->entries[0];
    return name.key == ResourceKey::Id(1) && name.directory && name.directory->entries.size() == 1 &&
           !name.directory->entries[0].key.named && !name.directory->entries[0].directory;
}

// The first value of key among the strings `list` reports, as recognition
// spells it; false when there is none.
bool ReportedValue(const BrandingReport& report, const std::string& key, std::string* value)
{
    for (const auto& string : report.versionStrings) {
        if (string.first != key)
            continue;
        std::u16string units;
        Check(Utf8ToUtf16(string.second, &units), "a reported version string is not UTF-8");
        value->clear();
        for (char16_t c : units)
            value->push_back(c < 0x80 ? static_cast<char>(c) : '?');
        return true;
    }
    return false;
}

void CheckAgainstReport(const ByteBuffer& image, const Recognition& seen)
{
    BrandingReport report;
    Check(DescribeBranding(ByteView(image), &report), "list reads no resources where recognition read a tree");
    // The report shows the first table; recognition looks there first.
    std::string value;
    if (ReportedValue(report, "InternalName", &value))
        Check(seen.named && value == seen.internalName, "recognition reads another InternalName than list shows");
    if (ReportedValue(report, PAYLOAD_FORMATS_KEY, &value))
        Check(seen.listed && value == seen.formats, "recognition reads other PayloadFormats than list shows");
}

// Every version block changed as branding changes it; false where branding
// would refuse (a block it cannot read, or one that outgrows its lengths).
bool BrandVersionBlocks(ResourceDirectory& root)
{
    const uint16_t version[4] = {2, 4, 0, 7};
    for (ResourceEntry& type : root.entries) {
        if (type.key.named || type.key.id != RESOURCE_VERSION || !type.directory)
            continue;
        for (ResourceEntry& name : type.directory->entries) {
            if (!name.directory)
                continue;
            for (ResourceEntry& language : name.directory->entries) {
                VersionNode block;
                if (language.directory || !ReadVersionBlock(ByteView(language.data), &block))
                    return false;
                for (VersionNode* table : VersionStringTables(block)) {
                    SetVersionString(table, u"ProductName", u"\u793A\u4F8B Product");
                    SetVersionString(table, u"CompanyName", u"Example Ltd");
                    SetVersionString(table, u"LegalCopyright", u"(C) 2024 Example & Co");
                    SetVersionString(table, u"FileVersion", u"2, 4, 0, 7");
                }
                SetFixedVersions(&block, version);
                if (!WriteVersionBlock(block, &language.data))
                    return false;
            }
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ByteView input(data, size);
    if (!input.Has(0, 4))
        return 0;
    uint32_t rva = input.U32(0) % MAX_ADDRESS / PAGE * PAGE;
    rva = rva == 0 ? PAGE : rva;
    ByteView section(data + 4, size - 4);
    ByteBuffer image = ImageAround(section, rva);
    Recognition before = Recognise(image);

    ResourceDirectory root;
    std::string detail;
    if (!ReadResourceTree(section, rva, &root, &detail))
        return 0;
    if (HasOneVersionBlock(root))
        CheckAgainstReport(image, before);
    if (!BrandVersionBlocks(root))
        return 0;
    PeLayout layout;
    Check(ReadPeLayout(ByteView(image), &layout), "the image made around the section has no layout");
    Check(CheckRewritable(ByteView(image), layout, &detail) == PackError::Ok,
          "the image made around the section cannot be laid out again");
    ByteBuffer branded;
    if (ReplaceResourceSection(ByteView(image), layout, WriteResourceTree(root, rva), &branded, &detail) !=
        PackError::Ok)
        return 0;  // it would not end before the payload offset
    Check(Recognise(branded) == before, "branding changed what recognition reads");
    return 0;
}
