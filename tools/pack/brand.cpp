#include "brand.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <set>

#include "archive.h"
#include "host_files.h"
#include "pe_writer.h"
#include "picture.h"
#include "resource.h"
#include "resources.h"
#include "sha256.h"
#include "stock_pictures.h"

namespace {

// Where each picture goes, and the stock stub's picture there (the SHA-256
// of its bitmap's hexadecimal spelling, computed from res/pictures when the
// packer was configured).
struct PictureSlot {
    const char* role;
    uint16_t id;
    unsigned width;
    unsigned height;
    const char* stock;
};
const PictureSlot SPLASH_SLOT = {"splash", IDB_BACKGROUND, 600, 360, QUORVANE_STOCK_SPLASH};
const PictureSlot BUTTON_SLOTS[BRAND_BUTTON_COUNT] = {
    {"Simplified Chinese button", IDB_SETUP_SIMPLIFIED, 118, 26, QUORVANE_STOCK_BUTTON_SIMPLIFIED},
    {"Traditional Chinese button", IDB_SETUP_TRADITIONAL, 118, 26, QUORVANE_STOCK_BUTTON_TRADITIONAL},
    {"quit button", IDB_EXIT_SETUP, 118, 26, QUORVANE_STOCK_BUTTON_EXIT},
};
// One digest per image of the stock icon, in its group's order.
const char STOCK_ICON[] = QUORVANE_STOCK_ICON;

const uint16_t VERSION_INFO_ID = 1;  // VS_VERSION_INFO
const size_t MAX_TEXT_UNITS = 255;
const uint16_t STATIC_CLASS_ATOM = 0x0082;

// The stub's own patterns, from res/quorvane.rc.in: the system-menu entry
// "关于 NAME(&A)...", the About box's caption "关于 NAME" and its product
// line "NAME VERSION 版".
const char16_t ABOUT_PREFIX[] = u"\u5173\u4E8E ";  // 关于
const char16_t MENU_SUFFIX[] = u"(&A)...";
const char16_t EDITION_SUFFIX[] = u" \u7248";     // 版

std::string Dimensions(unsigned width, unsigned height)
{
    return std::to_string(width) + " x " + std::to_string(height);
}

// Doubled, an ampersand shows as itself where a single one marks the access key.
std::u16string EscapeAmpersands(const std::u16string& text)
{
    std::u16string out;
    for (char16_t c : text) {
        out += c;
        if (c == u'&')
            out += u'&';
    }
    return out;
}

std::u16string Ascii(const std::string& text)
{
    return std::u16string(text.begin(), text.end());
}

std::string VersionText(const uint16_t version[4], const char* separator)
{
    std::string text;
    for (int i = 0; i < 4; ++i)
        text += (i ? separator : "") + std::to_string(version[i]);
    return text;
}

BrandError CheckText(const char* option, const std::optional<std::string>& text, bool mayBeEmpty,
                     std::u16string* out, BrandResult* result)
{
    if (!text)
        return BrandError::Ok;
    if (!Utf8ToUtf16(*text, out))
        return BrandFail(result, BrandError::BadText, option, "it is not UTF-8");
    if (out->empty() && !mayBeEmpty)
        return BrandFail(result, BrandError::BadText, option, "it is empty");
    if (out->size() > MAX_TEXT_UNITS)
        return BrandFail(result, BrandError::BadText, option,
                         "it is longer than " + std::to_string(MAX_TEXT_UNITS) + " characters");
    for (char16_t c : *out)
        if (c < 0x20 || c == 0x7F)
            return BrandFail(result, BrandError::BadText, option, "it holds a control character");
    return BrandError::Ok;
}

// A branding input, read whole after its size is checked.
BrandError ReadInput(const std::string& path, ByteBuffer* bytes, BrandResult* result)
{
    uint64_t size = 0;
    HostPathKind kind = StatHostPath(path, &size);
    if (kind == HostPathKind::Missing) {
        result->reason = HostErrorText();
        return BrandFail(result, BrandError::MissingInput, path);
    }
    if (kind != HostPathKind::File)
        return BrandFail(result, BrandError::MissingInput, path, "not a regular file");
    if (size > MAX_BRAND_INPUT_SIZE)
        return BrandFail(result, BrandError::InputTooLarge, path, std::to_string(size) + " bytes");
    FILE* file = OpenHostFile(path, "rb");
    if (file == nullptr) {
        result->reason = HostErrorText();
        return BrandFail(result, BrandError::MissingInput, path);
    }
    bytes->resize(static_cast<size_t>(size));
    bool read = size == 0 || fread(bytes->data(), 1, bytes->size(), file) == bytes->size();
    if (!read)
        result->reason = HostErrorText();
    fclose(file);
    return read ? BrandError::Ok : BrandFail(result, BrandError::ReadFailed, path);
}

BrandError LoadPicture(const std::string& path, const PictureSlot& slot, ByteBuffer* dib, BrandResult* result)
{
    ByteBuffer file;
    if (ReadInput(path, &file, result) != BrandError::Ok)
        return result->error;
    unsigned found[2];
    std::string detail;
    BrandError error = DecodePicture(ByteView(file), slot.width, slot.height, dib, found, &detail);
    if (error == BrandError::WrongPictureSize)
        detail = Dimensions(found[0], found[1]) + " pixels; the " + slot.role + " must be " +
                 Dimensions(slot.width, slot.height);
    return error == BrandError::Ok ? error : BrandFail(result, error, path, detail);
}

// What is read from the inputs before the stub is touched.
struct BrandInputs {
    bool hasSplash = false;
    ByteBuffer splash;
    bool hasButton[BRAND_BUTTON_COUNT] = {};
    ByteBuffer buttons[BRAND_BUTTON_COUNT];
    bool hasIcon = false;
    std::vector<IconImage> icon;
    std::u16string product, company, copyright;
};

BrandError ReadInputs(const BrandOptions& options, BrandInputs* inputs, BrandResult* result)
{
    if (CheckText("--product", options.product, false, &inputs->product, result) != BrandError::Ok ||
        CheckText("--company", options.company, true, &inputs->company, result) != BrandError::Ok ||
        CheckText("--copyright", options.copyright, true, &inputs->copyright, result) != BrandError::Ok)
        return result->error;
    if (!options.splash.empty()) {
        inputs->hasSplash = true;
        if (LoadPicture(options.splash, SPLASH_SLOT, &inputs->splash, result) != BrandError::Ok)
            return result->error;
    }
    for (int i = 0; i < BRAND_BUTTON_COUNT; ++i)
        if (!options.buttons[i].empty()) {
            inputs->hasButton[i] = true;
            if (LoadPicture(options.buttons[i], BUTTON_SLOTS[i], &inputs->buttons[i], result) != BrandError::Ok)
                return result->error;
        }
    if (!options.icon.empty()) {
        ByteBuffer file;
        if (ReadInput(options.icon, &file, result) != BrandError::Ok)
            return result->error;
        std::string detail;
        BrandError error = ReadIconFile(ByteView(file), &inputs->icon, &detail);
        if (error != BrandError::Ok)
            return BrandFail(result, error, options.icon, detail);
        inputs->hasIcon = true;
        for (unsigned size : {16u, 32u}) {
            bool found = std::any_of(inputs->icon.begin(), inputs->icon.end(),
                                     [size](const IconImage& image) { return image.width == size && image.height == size; });
            if (!found)
                result->warnings.push_back(options.icon + ": no " + Dimensions(size, size) +
                                           " image: Windows scales another one down for the title bar and lists");
        }
    }
    return BrandError::Ok;
}

// Every language of one resource; StubNotLauncher when there is none.
BrandError LanguagesOf(ResourceDirectory& root, uint16_t type, uint16_t id, const std::string& what,
                       const std::string& stubName, ResourceDirectory** languages, BrandResult* result)
{
    *languages = FindResourceLanguages(root, type, id);
    bool any = *languages != nullptr && !(*languages)->entries.empty();
    for (size_t i = 0; any && i < (*languages)->entries.size(); ++i)
        any = !(*languages)->entries[i].directory;
    if (!any)
        return BrandFail(result, BrandError::StubNotLauncher, stubName, "no " + what);
    return BrandError::Ok;
}

BrandError ReplacePicture(ResourceDirectory& root, const PictureSlot& slot, const ByteBuffer& dib,
                          const std::string& stubName, BrandResult* result)
{
    ResourceDirectory* languages = nullptr;
    if (LanguagesOf(root, RESOURCE_BITMAP, slot.id, "bitmap " + std::to_string(slot.id) + " (the " + slot.role + ")",
                    stubName, &languages, result) != BrandError::Ok)
        return result->error;
    for (ResourceEntry& language : languages->entries)
        language.data = dib;
    return BrandError::Ok;
}

// Icon group 128 takes the new images, numbered afresh; its old images go,
// unless another group shows them too.
BrandError ReplaceIcon(ResourceDirectory& root, const std::vector<IconImage>& images, const std::string& stubName,
                       BrandResult* result)
{
    ResourceDirectory* group = nullptr;
    if (LanguagesOf(root, RESOURCE_GROUP_ICON, IDR_MAINFRAME, "icon group 128", stubName, &group, result) !=
        BrandError::Ok)
        return result->error;
    std::set<uint16_t> old, kept;
    ResourceEntry* groups = root.Find(ResourceKey::Id(RESOURCE_GROUP_ICON));
    for (ResourceEntry& name : groups->directory->entries) {
        if (!name.directory)
            continue;
        for (ResourceEntry& language : name.directory->entries) {
            std::vector<IconGroupEntry> entries;
            if (language.directory || !ReadIconGroup(ByteView(language.data), &entries))
                return BrandFail(result, BrandError::StubDamaged, stubName, "an icon group cannot be read");
            bool ours = name.key == ResourceKey::Id(IDR_MAINFRAME);
            for (const IconGroupEntry& entry : entries)
                (ours ? old : kept).insert(entry.id);
        }
    }
    ResourceEntry* icons = root.Find(ResourceKey::Id(RESOURCE_ICON));
    if (icons == nullptr) {
        ResourceEntry entry;
        entry.key = ResourceKey::Id(RESOURCE_ICON);
        entry.directory.reset(new ResourceDirectory);
        icons = &root.Insert(std::move(entry));
    } else if (!icons->directory) {
        return BrandFail(result, BrandError::StubDamaged, stubName, "its icon images are no directory");
    }
    for (uint16_t id : old)
        if (kept.count(id) == 0)
            icons->directory->Remove(ResourceKey::Id(id));

    std::set<uint16_t> used;
    for (const ResourceEntry& entry : icons->directory->entries)
        if (!entry.key.named)
            used.insert(entry.key.id);
    std::vector<IconGroupEntry> entries;
    uint16_t next = 1;
    for (const IconImage& image : images) {
        while (used.count(next) != 0)
            ++next;
        if (next == 0)
            return BrandFail(result, BrandError::StubDamaged, stubName, "no icon ids are left");
        ResourceEntry name;
        name.key = ResourceKey::Id(next);
        name.directory.reset(new ResourceDirectory);
        for (const ResourceEntry& language : group->entries) {
            ResourceEntry copy;
            copy.key = language.key;
            copy.data = image.data;
            copy.codePage = language.codePage;
            name.directory->Insert(std::move(copy));
        }
        icons->directory->Insert(std::move(name));
        entries.push_back(IconGroupEntryFor(image, next));
        used.insert(next++);
    }
    for (ResourceEntry& language : group->entries)
        language.data = WriteIconGroup(entries);
    return BrandError::Ok;
}

BrandError UpdateVersionBlock(ResourceDirectory& root, const BrandOptions& options, const BrandInputs& inputs,
                              const std::string& stubName, BrandResult* result)
{
    ResourceDirectory* languages = nullptr;
    if (LanguagesOf(root, RESOURCE_VERSION, VERSION_INFO_ID, "version block", stubName, &languages, result) !=
        BrandError::Ok)
        return result->error;
    for (ResourceEntry& language : languages->entries) {
        VersionNode block;
        if (!ReadVersionBlock(ByteView(language.data), &block))
            return BrandFail(result, BrandError::StubDamaged, stubName, "its version block cannot be read");
        std::vector<VersionNode*> tables = VersionStringTables(block);
        if (tables.empty())
            return BrandFail(result, BrandError::StubNotLauncher, stubName, "no strings in its version block");
        for (VersionNode* table : tables) {
            if (options.product) {
                SetVersionString(table, u"ProductName", inputs.product);
                SetVersionString(table, u"FileDescription", inputs.product);
            }
            if (options.company)
                SetVersionString(table, u"CompanyName", inputs.company);
            if (options.copyright)
                SetVersionString(table, u"LegalCopyright", inputs.copyright);
            if (options.version) {
                // In the stub's own form: "1, 0, 0, 1".
                std::u16string text = Ascii(VersionText(options.version->data(), ", "));
                SetVersionString(table, u"FileVersion", text);
                SetVersionString(table, u"ProductVersion", text);
            }
        }
        if (options.version && !SetFixedVersions(&block, options.version->data()))
            return BrandFail(result, BrandError::StubNotLauncher, stubName, "no fixed version in its version block");
        if (!WriteVersionBlock(block, &language.data))
            return BrandFail(result, BrandError::BadText, "--product, --company and --copyright",
                             "the version block would outgrow 64 KiB");
    }
    return BrandError::Ok;
}

bool IsTextStatic(const DialogItem& item)
{
    bool isStatic = item.windowClass.ordinal ? item.windowClass.id == STATIC_CLASS_ATOM
                                             : Utf16ToUtf8(item.windowClass.text) == "Static" ||
                                                   Utf16ToUtf8(item.windowClass.text) == "STATIC";
    return isStatic && !item.title.ordinal;
}

// The About box: its caption, its product line (the first text) and its
// legal line (the second).
BrandError UpdateAboutBox(ResourceDirectory& root, const BrandOptions& options, const BrandInputs& inputs,
                          const std::u16string& version, const std::string& stubName, BrandResult* result)
{
    ResourceDirectory* languages = nullptr;
    if (LanguagesOf(root, RESOURCE_DIALOG, IDD_ABOUTBOX, "About box (dialog 100)", stubName, &languages, result) !=
        BrandError::Ok)
        return result->error;
    for (ResourceEntry& language : languages->entries) {
        DialogTemplate dialog;
        if (!ReadDialogTemplate(ByteView(language.data), &dialog))
            return BrandFail(result, BrandError::StubDamaged, stubName, "its About box cannot be read");
        std::vector<DialogItem*> lines;
        for (DialogItem& item : dialog.items)
            if (IsTextStatic(item))
                lines.push_back(&item);
        if (lines.size() < 2)
            return BrandFail(result, BrandError::StubNotLauncher, stubName, "no product and legal lines in its About box");
        if (options.product) {
            dialog.title = ABOUT_PREFIX + inputs.product;
            // The product line shows its text as it is (SS_NOPREFIX).
            lines[0]->title.text = inputs.product + u" " + version + EDITION_SUFFIX;
        }
        if (options.copyright)
            lines[1]->title.text = EscapeAmpersands(inputs.copyright);
        language.data = WriteDialogTemplate(dialog);
    }
    return BrandError::Ok;
}

BrandError UpdateSystemMenuEntry(ResourceDirectory& root, const BrandInputs& inputs, const std::string& stubName,
                                 BrandResult* result)
{
    ResourceDirectory* languages = nullptr;
    uint16_t block = IDS_ABOUTBOX / STRINGS_PER_BLOCK + 1;
    if (LanguagesOf(root, RESOURCE_STRING, block, "string 101 (the system menu's About entry)", stubName, &languages,
                    result) != BrandError::Ok)
        return result->error;
    for (ResourceEntry& language : languages->entries) {
        std::u16string strings[STRINGS_PER_BLOCK];
        if (!ReadStringBlock(ByteView(language.data), strings))
            return BrandFail(result, BrandError::StubDamaged, stubName, "its string table cannot be read");
        strings[IDS_ABOUTBOX % STRINGS_PER_BLOCK] = ABOUT_PREFIX + EscapeAmpersands(inputs.product) + MENU_SUFFIX;
        language.data = WriteStringBlock(strings);
    }
    return BrandError::Ok;
}

// "1.0" from 1.0.0.1: the major and minor product version, as the About box
// shows it.
BrandError AboutVersion(ResourceDirectory& root, const std::string& stubName, std::u16string* version,
                        BrandResult* result)
{
    ResourceDirectory* languages = nullptr;
    if (LanguagesOf(root, RESOURCE_VERSION, VERSION_INFO_ID, "version block", stubName, &languages, result) !=
        BrandError::Ok)
        return result->error;
    VersionNode block;
    uint16_t file[4], product[4];
    if (!ReadVersionBlock(ByteView(languages->entries[0].data), &block) || !ReadFixedVersions(block, file, product))
        return BrandFail(result, BrandError::StubNotLauncher, stubName, "no fixed version in its version block");
    *version = Ascii(std::to_string(product[0]) + "." + std::to_string(product[1]));
    return BrandError::Ok;
}

BrandError ReadStubResources(ByteView stub, const std::string& stubName, PeLayout* layout, ResourceDirectory* root,
                             uint32_t* rva, BrandResult* result)
{
    if (!ReadPeLayout(stub, layout))
        return BrandFail(result, BrandError::StubNotPe, stubName);
    std::string detail;
    BrandError error = CheckRewritable(stub, *layout, &detail);
    if (error != BrandError::Ok)
        return BrandFail(result, error, stubName, detail);
    ByteView section;
    if (!FindResourceSection(stub, *layout, &section, rva))
        return BrandFail(result, BrandError::StubDamaged, stubName, "its resource section lies outside the file");
    if (!ReadResourceTree(section, *rva, root, &detail))
        return BrandFail(result, BrandError::StubDamaged, stubName, detail);
    return BrandError::Ok;
}

std::string FormatVersion(const uint16_t version[4])
{
    return VersionText(version, ".");
}

BrandPicture DescribePicture(const ResourceDirectory& root, const PictureSlot& slot)
{
    BrandPicture picture;
    const ResourceDirectory* languages = FindResourceLanguages(root, RESOURCE_BITMAP, slot.id);
    if (languages == nullptr || languages->entries.empty() || languages->entries[0].directory)
        return picture;
    const ByteBuffer& dib = languages->entries[0].data;
    picture.present = ReadBitmapHeader(ByteView(dib), &picture.width, &picture.height, &picture.bits);
    picture.stock = Sha256OfHexSpelling(dib.data(), dib.size()) == slot.stock;
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

const char* const BRAND_BUTTON_NAMES[BRAND_BUTTON_COUNT] = {"simplified", "traditional", "exit"};

const char* BrandErrorText(BrandError error)
{
    switch (error) {
#define BRAND_ERROR_TEXT(name, text) \
    case BrandError::name:           \
        return text;
        BRAND_ERRORS(BRAND_ERROR_TEXT)
#undef BRAND_ERROR_TEXT
    }
    return "unknown error";
}

BrandError BrandFail(BrandResult* result, BrandError error, const std::string& culprit, const std::string& detail)
{
    result->error = error;
    result->culprit = culprit;
    result->detail = detail;
    return error;
}

bool BrandOptions::Any() const
{
    return !Files().empty() || product || company || copyright || version;
}

std::vector<std::string> BrandOptions::Files() const
{
    std::vector<std::string> files;
    for (const std::string& file : {splash, buttons[0], buttons[1], buttons[2], icon})
        if (!file.empty())
            files.push_back(file);
    return files;
}

bool ParseBrandVersion(const std::string& text, std::vector<uint16_t>* version)
{
    version->clear();
    size_t start = 0;
    for (int part = 0; part < 4; ++part) {
        size_t end = part < 3 ? text.find('.', start) : text.size();
        if (end == std::string::npos || end == start || end - start > 5)
            return false;
        unsigned long value = 0;
        for (size_t i = start; i < end; ++i) {
            if (text[i] < '0' || text[i] > '9')
                return false;
            value = value * 10 + static_cast<unsigned long>(text[i] - '0');
        }
        if (value > 0xFFFF)
            return false;
        version->push_back(static_cast<uint16_t>(value));
        start = end + 1;
    }
    return true;
}

BrandError BrandImage(const BrandOptions& options, const std::string& stubName, ByteBuffer* stub,
                      BrandResult* result)
{
    BrandInputs inputs;
    if (ReadInputs(options, &inputs, result) != BrandError::Ok)
        return result->error;
    PeLayout layout;
    ResourceDirectory root;
    uint32_t rva = 0;
    if (ReadStubResources(ByteView(*stub), stubName, &layout, &root, &rva, result) != BrandError::Ok)
        return result->error;

    if (inputs.hasSplash && ReplacePicture(root, SPLASH_SLOT, inputs.splash, stubName, result) != BrandError::Ok)
        return result->error;
    for (int i = 0; i < BRAND_BUTTON_COUNT; ++i)
        if (inputs.hasButton[i] &&
            ReplacePicture(root, BUTTON_SLOTS[i], inputs.buttons[i], stubName, result) != BrandError::Ok)
            return result->error;
    if (inputs.hasIcon && ReplaceIcon(root, inputs.icon, stubName, result) != BrandError::Ok)
        return result->error;
    if ((options.product || options.company || options.copyright || options.version) &&
        UpdateVersionBlock(root, options, inputs, stubName, result) != BrandError::Ok)
        return result->error;
    if (options.product || options.copyright) {
        std::u16string version;
        if ((options.product && AboutVersion(root, stubName, &version, result) != BrandError::Ok) ||
            UpdateAboutBox(root, options, inputs, version, stubName, result) != BrandError::Ok)
            return result->error;
    }
    if (options.product && UpdateSystemMenuEntry(root, inputs, stubName, result) != BrandError::Ok)
        return result->error;

    ByteBuffer branded;
    std::string detail;
    BrandError error = ReplaceResourceSection(ByteView(*stub), layout, WriteResourceTree(root, rva), &branded, &detail);
    if (error != BrandError::Ok)
        return BrandFail(result, error, stubName, detail);
    stub->swap(branded);
    return BrandError::Ok;
}

BrandError CheckBrandOutput(const std::string& output, const std::string& stub, const BrandOptions& options,
                            BrandResult* result)
{
    HostFileId out, id;
    HostPathKind kind = StatHostPath(output, nullptr, &out);
    if (kind == HostPathKind::Folder || kind == HostPathKind::Other)
        return BrandFail(result, BrandError::OutputNotFile, output);
    if (kind != HostPathKind::File)
        return BrandError::Ok;
    if (StatHostPath(stub, nullptr, &id) == HostPathKind::File && id == out)
        return BrandFail(result, BrandError::OutputIsStub, output);
    for (const std::string& file : options.Files())
        if (StatHostPath(file, nullptr, &id) == HostPathKind::File && id == out)
            return BrandFail(result, BrandError::OutputIsInput, output, file);
    return BrandError::Ok;
}

BrandError BrandStubFile(const std::string& stubPath, const std::string& output, const BrandOptions& options,
                         BrandResult* result)
{
    *result = BrandResult();
    if (CheckBrandOutput(output, stubPath, options, result) != BrandError::Ok)
        return result->error;
    uint64_t size = 0;
    HostPathKind kind = StatHostPath(stubPath, &size);
    if (kind == HostPathKind::File && size > PAYLOAD_OFFSET) {
        // Told apart from a merely large program by a first entry that reads cleanly.
        PayloadReader reader;
        PayloadEntryHeader header;
        bool carries = OpenPayload(&reader, stubPath.c_str()) == PayloadError::Ok && NextPayloadEntry(&reader, &header);
        ClosePayload(&reader);
        return BrandFail(result, carries ? BrandError::StubCarriesArchive : BrandError::StubTooLarge, stubPath);
    }
    ByteBuffer stub;
    if (ReadInput(stubPath, &stub, result) != BrandError::Ok)
        return result->error;
    if (BrandImage(options, stubPath, &stub, result) != BrandError::Ok)
        return result->error;

    FILE* out = nullptr;
    std::string reason;
    std::string temp = CreateTempBeside(output, &out, &reason);
    if (temp.empty()) {
        result->reason = reason;
        return BrandFail(result, BrandError::CannotCreateOutput, output);
    }
    bool written = fwrite(stub.data(), 1, stub.size(), out) == stub.size() && fflush(out) == 0 && SyncHostFile(out);
    if (!written)
        result->reason = HostErrorText();
    if (fclose(out) != 0 && written) {
        written = false;
        result->reason = HostErrorText();
    }
    if (written && !RenameHostFile(temp, output)) {
        result->reason = HostErrorText();
        RemoveHostFile(temp);
        return BrandFail(result, BrandError::CannotCreateOutput, output);
    }
    if (!written) {
        RemoveHostFile(temp);
        return BrandFail(result, BrandError::WriteFailed, output);
    }
    return BrandError::Ok;
}

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
