// Branding's changes to the stub's resource model: pictures, the icon group
// and its images, the version block, the About box and the system-menu entry.
#include "brand_parts.h"

#include <set>

#include "archive.h"

namespace {

const uint16_t STATIC_CLASS_ATOM = 0x0082;

// The stub's own patterns, from res/quorvane.rc.in: the system-menu entry
// "关于 NAME(&A)...", the About box's caption "关于 NAME" and its product
// line "NAME VERSION 版".
const char16_t ABOUT_PREFIX[] = u"\u5173\u4E8E ";  // 关于
const char16_t MENU_SUFFIX[] = u"(&A)...";
const char16_t EDITION_SUFFIX[] = u" \u7248";     // 版

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

// Each language of a resource gets a copy of its own of the new data, and
// all of it must end before the payload offset: a stub whose resource has
// thousands of languages is refused before they are filled. total is what
// they take, or (more) what the ones filled so far take.
PackError CheckCopies(uint64_t total, bool more, size_t languages, const std::string& what,
                      const std::string& stubName, PackResult* result)
{
    if (total <= PAYLOAD_OFFSET)
        return PackError::Ok;
    return Fail(result, PackError::ImageTooLarge, stubName,
                what + " in " + std::to_string(languages) + " languages would take " + (more ? "more than " : "") +
                    std::to_string(total) + " bytes");
}

// Every language of one resource; StubNotLauncher when there is none.
PackError LanguagesOf(ResourceDirectory& root, uint16_t type, uint16_t id, const std::string& what,
                      const std::string& stubName, ResourceDirectory** languages, PackResult* result)
{
    *languages = FindResourceLanguages(root, type, id);
    bool any = *languages != nullptr && !(*languages)->entries.empty();
    for (size_t i = 0; any && i < (*languages)->entries.size(); ++i)
        any = !(*languages)->entries[i].directory;
    if (!any)
        return Fail(result, PackError::StubNotLauncher, stubName, "no " + what);
    return PackError::Ok;
}

PackError ReplacePicture(ResourceDirectory& root, const PictureSlot& slot, const ByteBuffer& dib,
                         const std::string& stubName, PackResult* result)
{
    ResourceDirectory* languages = nullptr;
    std::string what = "bitmap " + std::to_string(slot.id) + " (the " + slot.role + ")";
    if (LanguagesOf(root, RESOURCE_BITMAP, slot.id, what, stubName, &languages, result) != PackError::Ok ||
        CheckCopies(uint64_t(languages->entries.size()) * dib.size(), false, languages->entries.size(), what, stubName,
                    result) != PackError::Ok)
        return result->error;
    for (ResourceEntry& language : languages->entries)
        language.data = dib;
    return PackError::Ok;
}

// Icon group 128 takes the new images, numbered afresh; its old images go,
// unless another group shows them too.
PackError ReplaceIcon(ResourceDirectory& root, const std::vector<IconImage>& images, const std::string& stubName,
                      PackResult* result)
{
    ResourceDirectory* group = nullptr;
    uint64_t bytes = 0;
    for (const IconImage& image : images)
        bytes += image.data.size();
    if (LanguagesOf(root, RESOURCE_GROUP_ICON, IDR_MAINFRAME, "icon group 128", stubName, &group, result) !=
            PackError::Ok ||
        CheckCopies(uint64_t(group->entries.size()) * bytes, false, group->entries.size(), "icon group 128",
                    stubName, result) != PackError::Ok)
        return result->error;
    std::set<uint16_t> old, kept;
    ResourceEntry* groups = root.Find(ResourceKey::Id(RESOURCE_GROUP_ICON));
    for (ResourceEntry& name : groups->directory->entries) {
        if (!name.directory)
            continue;
        for (ResourceEntry& language : name.directory->entries) {
            std::vector<IconGroupEntry> entries;
            if (language.directory || !ReadIconGroup(ByteView(language.data), &entries))
                return Fail(result, PackError::StubDamaged, stubName, "an icon group cannot be read");
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
        return Fail(result, PackError::StubDamaged, stubName, "its icon images are no directory");
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
            return Fail(result, PackError::StubDamaged, stubName, "no icon ids are left");
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
    return PackError::Ok;
}

PackError UpdateVersionBlock(ResourceDirectory& root, const BrandOptions& options, const BrandInputs& inputs,
                             const std::string& stubName, PackResult* result)
{
    ResourceDirectory* languages = nullptr;
    if (LanguagesOf(root, RESOURCE_VERSION, VERSION_INFO_ID, "version block", stubName, &languages, result) !=
        PackError::Ok)
        return result->error;
    uint64_t written = 0;
    for (ResourceEntry& language : languages->entries) {
        VersionNode block;
        if (!ReadVersionBlock(ByteView(language.data), &block))
            return Fail(result, PackError::StubDamaged, stubName, "its version block cannot be read");
        std::vector<VersionNode*> tables = VersionStringTables(block);
        if (tables.empty())
            return Fail(result, PackError::StubNotLauncher, stubName, "no strings in its version block");
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
            return Fail(result, PackError::StubNotLauncher, stubName, "no fixed version in its version block");
        if (!WriteVersionBlock(block, &language.data))
            return Fail(result, PackError::BadText, "--product, --company and --copyright",
                             "the version block would outgrow 64 KiB");
        written += language.data.size();
        if (CheckCopies(written, true, languages->entries.size(), "the version block", stubName, result) !=
            PackError::Ok)
            return result->error;
    }
    return PackError::Ok;
}

// The About box: its caption, its product line (the first text) and its
// legal line (the second).
PackError UpdateAboutBox(ResourceDirectory& root, const BrandOptions& options, const BrandInputs& inputs,
                         const std::u16string& version, const std::string& stubName, PackResult* result)
{
    ResourceDirectory* languages = nullptr;
    if (LanguagesOf(root, RESOURCE_DIALOG, IDD_ABOUTBOX, "About box (dialog 100)", stubName, &languages, result) !=
        PackError::Ok)
        return result->error;
    uint64_t written = 0;
    for (ResourceEntry& language : languages->entries) {
        DialogTemplate dialog;
        if (!ReadDialogTemplate(ByteView(language.data), &dialog))
            return Fail(result, PackError::StubDamaged, stubName, "its About box cannot be read");
        std::vector<DialogItem*> lines;
        for (DialogItem& item : dialog.items)
            if (IsTextStatic(item))
                lines.push_back(&item);
        if (lines.size() < 2)
            return Fail(result, PackError::StubNotLauncher, stubName, "no product and legal lines in its About box");
        if (options.product) {
            dialog.title = ABOUT_PREFIX + inputs.product;
            // The product line shows its text as it is (SS_NOPREFIX).
            lines[0]->title.text = inputs.product + u" " + version + EDITION_SUFFIX;
        }
        if (options.copyright)
            lines[1]->title.text = EscapeAmpersands(inputs.copyright);
        language.data = WriteDialogTemplate(dialog);
        written += language.data.size();
        if (CheckCopies(written, true, languages->entries.size(), "the About box", stubName, result) != PackError::Ok)
            return result->error;
    }
    return PackError::Ok;
}

PackError UpdateSystemMenuEntry(ResourceDirectory& root, const BrandInputs& inputs, const std::string& stubName,
                                PackResult* result)
{
    ResourceDirectory* languages = nullptr;
    uint16_t block = IDS_ABOUTBOX / STRINGS_PER_BLOCK + 1;
    if (LanguagesOf(root, RESOURCE_STRING, block, "string 101 (the system menu's About entry)", stubName, &languages,
                    result) != PackError::Ok)
        return result->error;
    uint64_t written = 0;
    for (ResourceEntry& language : languages->entries) {
        std::u16string strings[STRINGS_PER_BLOCK];
        if (!ReadStringBlock(ByteView(language.data), strings))
            return Fail(result, PackError::StubDamaged, stubName, "its string table cannot be read");
        strings[IDS_ABOUTBOX % STRINGS_PER_BLOCK] = ABOUT_PREFIX + EscapeAmpersands(inputs.product) + MENU_SUFFIX;
        language.data = WriteStringBlock(strings);
        written += language.data.size();
        if (CheckCopies(written, true, languages->entries.size(), "string 101", stubName, result) != PackError::Ok)
            return result->error;
    }
    return PackError::Ok;
}

// "1.0" from 1.0.0.1: the major and minor product version, as the About box
// shows it.
PackError AboutVersion(ResourceDirectory& root, const std::string& stubName, std::u16string* version,
                       PackResult* result)
{
    ResourceDirectory* languages = nullptr;
    if (LanguagesOf(root, RESOURCE_VERSION, VERSION_INFO_ID, "version block", stubName, &languages, result) !=
        PackError::Ok)
        return result->error;
    VersionNode block;
    uint16_t file[4], product[4];
    if (!ReadVersionBlock(ByteView(languages->entries[0].data), &block) || !ReadFixedVersions(block, file, product))
        return Fail(result, PackError::StubNotLauncher, stubName, "no fixed version in its version block");
    *version = Ascii(std::to_string(product[0]) + "." + std::to_string(product[1]));
    return PackError::Ok;
}

}  // namespace

std::string VersionText(const uint16_t version[4], const char* separator)
{
    std::string text;
    for (int i = 0; i < 4; ++i)
        text += (i ? separator : "") + std::to_string(version[i]);
    return text;
}

bool IsTextStatic(const DialogItem& item)
{
    bool isStatic = item.windowClass.ordinal ? item.windowClass.id == STATIC_CLASS_ATOM
                                             : Utf16ToUtf8(item.windowClass.text) == "Static" ||
                                                   Utf16ToUtf8(item.windowClass.text) == "STATIC";
    return isStatic && !item.title.ordinal;
}

PackError ReadStubResources(ByteView stub, const std::string& stubName, PeLayout* layout, ResourceDirectory* root,
                            uint32_t* rva, PackResult* result)
{
    if (!ReadPeLayout(stub, layout))
        return Fail(result, PackError::StubNotPe, stubName);
    std::string detail;
    PackError error = CheckRewritable(stub, *layout, &detail);
    if (error != PackError::Ok)
        return Fail(result, error, stubName, detail);
    ByteView section;
    if (!FindResourceSection(stub, *layout, &section, rva))
        return Fail(result, PackError::StubDamaged, stubName, "its resource section lies outside the file");
    if (!ReadResourceTree(section, *rva, root, &detail))
        return Fail(result, PackError::StubDamaged, stubName, detail);
    return PackError::Ok;
}

PackError EditStubResources(ResourceDirectory& root, const BrandOptions& options, const BrandInputs& inputs,
                            const std::string& stubName, PackResult* result)
{
    if (inputs.hasSplash && ReplacePicture(root, SPLASH_SLOT, inputs.splash, stubName, result) != PackError::Ok)
        return result->error;
    for (int i = 0; i < BRAND_BUTTON_COUNT; ++i)
        if (inputs.hasButton[i] &&
            ReplacePicture(root, BUTTON_SLOTS[i], inputs.buttons[i], stubName, result) != PackError::Ok)
            return result->error;
    if (inputs.hasIcon && ReplaceIcon(root, inputs.icon, stubName, result) != PackError::Ok)
        return result->error;
    if ((options.product || options.company || options.copyright || options.version) &&
        UpdateVersionBlock(root, options, inputs, stubName, result) != PackError::Ok)
        return result->error;
    if (options.product || options.copyright) {
        std::u16string version;
        if ((options.product && AboutVersion(root, stubName, &version, result) != PackError::Ok) ||
            UpdateAboutBox(root, options, inputs, version, stubName, result) != PackError::Ok)
            return result->error;
    }
    if (options.product && UpdateSystemMenuEntry(root, inputs, stubName, result) != PackError::Ok)
        return result->error;
    return PackError::Ok;
}
