// Reading a stub's branding back, for list: version strings, pictures and
// whether each is the stock one, the icon's images, the About box's texts.
#include "brand_parts.h"

#include <algorithm>
#include <cstdio>

#include "archive.h"
#include "host_files.h"
#include "sha256.h"
#include "stub_pictures.h"

namespace {

// One digest per image of the stock icon, in its group's order.
const char STOCK_ICON[] = QUORVANE_STOCK_ICON;

std::string FormatVersion(const uint16_t version[4])
{
    return VersionText(version, ".");
}

BrandPicture DescribePicture(const ResourceDirectory& root, const PictureSlot& slot)
{
    BrandPicture picture;
    StubPicture held = ReadStubPicture(root, slot.id);
    picture.compressed = held.compressed;
    picture.damage = held.error;
    if (!held.present)
        return picture;
    const ByteBuffer& dib = held.dib;
    picture.present = ReadBitmapHeader(ByteView(dib), &picture.width, &picture.height, &picture.bits);
    picture.stock = Sha256OfHexSpelling(dib.data(), dib.size()) == slot.stock;
    picture.storedBytes = held.storedBytes;
    picture.unpackedBytes = static_cast<uint32_t>(dib.size());
    return picture;
}

void DescribeIcon(const ResourceDirectory& root, BrandingReport* report)
{
    const ResourceDirectory* group = FindResourceLanguages(root, RESOURCE_GROUP_ICON, IDR_MAINFRAME);
    std::vector<IconGroupEntry> entries;
    if (group == nullptr || group->entries.empty() || group->entries[0].directory ||
        !ReadIconGroup(ByteView(group->entries[0].data), &entries))
        return;
    std::string digests;
    for (const IconGroupEntry& entry : entries) {
        const ResourceDirectory* image = FindResourceLanguages(root, RESOURCE_ICON, entry.id);
        if (image == nullptr || image->entries.empty() || image->entries[0].directory)
            continue;
        const ByteBuffer& data = image->entries[0].data;
        IconImage described;
        std::string detail;
        BrandIconImage shown;
        if (DescribeIconImage(ByteView(data), &described, &detail)) {
            shown.width = described.width;
            shown.height = described.height;
            shown.bits = described.bits;
            shown.png = described.png;
        }
        shown.bytes = static_cast<uint32_t>(data.size());
        report->icon.push_back(shown);
        digests += (digests.empty() ? "" : ";") + Sha256OfHexSpelling(data.data(), data.size());
    }
    report->iconStock = !report->icon.empty() && digests == STOCK_ICON;
}

}  // namespace

bool DescribeBranding(ByteView bytes, BrandingReport* report)
{
    *report = BrandingReport();
    PeLayout layout;
    ByteView section;
    uint32_t rva = 0;
    ResourceDirectory root;
    std::string detail;
    if (!ReadPeLayout(bytes, &layout) || !FindResourceSection(bytes, layout, &section, &rva) ||
        !ReadResourceTree(section, rva, &root, &detail))
        return false;

    const ResourceDirectory* version = FindResourceLanguages(root, RESOURCE_VERSION, VERSION_INFO_ID);
    VersionNode block;
    if (version != nullptr && !version->entries.empty() && !version->entries[0].directory &&
        ReadVersionBlock(ByteView(version->entries[0].data), &block)) {
        std::vector<VersionNode*> tables = VersionStringTables(block);
        if (!tables.empty())
            for (const VersionNode& string : tables[0]->children)
                report->versionStrings.emplace_back(Utf16ToUtf8(string.key), Utf16ToUtf8(VersionStringValue(string)));
        uint16_t file[4], product[4];
        if (ReadFixedVersions(block, file, product)) {
            report->fileVersion = FormatVersion(file);
            report->productVersion = FormatVersion(product);
        }
    }
    report->splash = DescribePicture(root, SPLASH_SLOT);
    for (int i = 0; i < BRAND_BUTTON_COUNT; ++i)
        report->buttons[i] = DescribePicture(root, BUTTON_SLOTS[i]);
    DescribeIcon(root, report);

    const ResourceDirectory* about = FindResourceLanguages(root, RESOURCE_DIALOG, IDD_ABOUTBOX);
    DialogTemplate dialog;
    if (about != nullptr && !about->entries.empty() && !about->entries[0].directory &&
        ReadDialogTemplate(ByteView(about->entries[0].data), &dialog)) {
        report->hasAbout = true;
        report->aboutCaption = Utf16ToUtf8(dialog.title);
        std::vector<std::string> lines;
        for (const DialogItem& item : dialog.items)
            if (IsTextStatic(item))
                lines.push_back(Utf16ToUtf8(item.title.text));
        lines.resize(std::max<size_t>(lines.size(), 2));
        report->aboutProduct = lines[0];
        report->aboutLegal = lines[1];
    }
    const ResourceDirectory* strings =
        FindResourceLanguages(root, RESOURCE_STRING, IDS_ABOUTBOX / STRINGS_PER_BLOCK + 1);
    std::u16string block16[STRINGS_PER_BLOCK];
    if (strings != nullptr && !strings->entries.empty() && !strings->entries[0].directory &&
        ReadStringBlock(ByteView(strings->entries[0].data), block16)) {
        report->hasSystemMenu = true;
        report->systemMenu = Utf16ToUtf8(block16[IDS_ABOUTBOX % STRINGS_PER_BLOCK]);
    }
    return true;
}

bool ReadBranding(const std::string& path, BrandingReport* report)
{
    uint64_t size = 0;
    if (StatHostPath(path, &size) != HostPathKind::File)
        return false;
    FILE* file = OpenHostFile(path, "rb");
    if (file == nullptr)
        return false;
    ByteBuffer head(static_cast<size_t>(std::min<uint64_t>(size, PAYLOAD_OFFSET)));
    bool read = head.empty() || fread(head.data(), 1, head.size(), file) == head.size();
    fclose(file);
    return read && DescribeBranding(ByteView(head), report);
}
