#include "resources.h"

#include <algorithm>
#include <map>
#include <numeric>

namespace {

// A resource directory table, then its entries.
const size_t DIRECTORY_SIZE = 16;
const size_t CHARACTERISTICS_AT = 0;
const size_t TIME_STAMP_AT = 4;
const size_t MAJOR_VERSION_AT = 8;
const size_t MINOR_VERSION_AT = 10;
const size_t NAMED_COUNT_AT = 12;
const size_t ID_COUNT_AT = 14;
const size_t ENTRY_SIZE = 8;
// A data-entry record: address, size, code page, reserved.
const size_t DATA_ENTRY_SIZE = 16;
const uint32_t HIGH_BIT = 0x80000000u;
const unsigned MAX_TREE_DEPTH = 8;          // Windows uses three levels
const size_t MAX_TREE_ENTRIES = 1u << 16;  // in all, against loops and blow-ups
const size_t NAME_ALIGNMENT = 2;
const size_t DATA_ALIGNMENT = 8;

class TreeReader {
public:
    TreeReader(ByteView section, uint32_t rva, std::string* detail) : section_(section), rva_(rva), detail_(detail) {}

    bool Directory(uint64_t at, unsigned depth, ResourceDirectory* directory)
    {
        if (depth > MAX_TREE_DEPTH)
            return Fail("the resource tree is deeper than " + std::to_string(MAX_TREE_DEPTH) + " levels");
        if (!section_.Has(at, DIRECTORY_SIZE))
            return Fail("a resource directory lies outside the section");
        directory->characteristics = section_.U32(at + CHARACTERISTICS_AT);
        directory->timeDateStamp = section_.U32(at + TIME_STAMP_AT);
        directory->majorVersion = section_.U16(at + MAJOR_VERSION_AT);
        directory->minorVersion = section_.U16(at + MINOR_VERSION_AT);
        size_t count = size_t(section_.U16(at + NAMED_COUNT_AT)) + section_.U16(at + ID_COUNT_AT);
        if (!section_.Has(at + DIRECTORY_SIZE, uint64_t(count) * ENTRY_SIZE))
            return Fail("a resource directory's entries lie outside the section");
        entries_ += count;
        if (entries_ > MAX_TREE_ENTRIES)
            return Fail("the resource tree has more than " + std::to_string(MAX_TREE_ENTRIES) + " entries");
        for (size_t i = 0; i < count; ++i) {
            uint64_t entryAt = at + DIRECTORY_SIZE + i * ENTRY_SIZE;
            uint32_t name = section_.U32(entryAt);
            uint32_t offset = section_.U32(entryAt + 4);
            ResourceEntry entry;
            if (name & HIGH_BIT) {
                entry.key.named = true;
                if (!Name(name & ~HIGH_BIT, &entry.key.name))
                    return false;
            } else if (name > 0xFFFF) {
                return Fail("a resource id is wider than 16 bits");
            } else {
                entry.key.id = static_cast<uint16_t>(name);
            }
            if (offset & HIGH_BIT) {
                entry.directory.reset(new ResourceDirectory);
                if (!Directory(offset & ~HIGH_BIT, depth + 1, entry.directory.get()))
                    return false;
            } else if (!Data(offset, &entry)) {
                return false;
            }
            directory->entries.push_back(std::move(entry));
        }
        return true;
    }

private:
    bool Fail(const std::string& what)
    {
        *detail_ = what;
        return false;
    }

    // A length in UTF-16 units, then the units, no NUL.
    bool Name(uint64_t at, std::u16string* name)
    {
        uint16_t length = section_.U16(at);
        if (!section_.Has(at, 2 + uint64_t(length) * 2))
            return Fail("a resource name lies outside the section");
        for (uint16_t i = 0; i < length; ++i)
            name->push_back(static_cast<char16_t>(section_.U16(at + 2 + i * 2)));
        return true;
    }

    bool Data(uint64_t at, ResourceEntry* entry)
    {
        if (!section_.Has(at, DATA_ENTRY_SIZE))
            return Fail("a resource data entry lies outside the section");
        uint32_t address = section_.U32(at);
        uint32_t size = section_.U32(at + 4);
        entry->codePage = section_.U32(at + 8);
        entry->reserved = section_.U32(at + 12);
        if (address < rva_ || !section_.Has(address - rva_, size))
            return Fail("resource data lies outside the resource section");
        entry->data = CopyBytes(section_, address - rva_, size);
        return true;
    }

    ByteView section_;
    uint32_t rva_;
    std::string* detail_;
    size_t entries_ = 0;
};

// Indices of a directory's entries in the order they are written.
std::vector<size_t> WritingOrder(const ResourceDirectory& directory)
{
    std::vector<size_t> order(directory.entries.size());
    std::iota(order.begin(), order.end(), size_t(0));
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return ResourceKeyLess(directory.entries[a].key, directory.entries[b].key);
    });
    return order;
}

// Where each part of the section goes.
struct TreeLayout {
    std::vector<const ResourceDirectory*> directories;  // depth first
    std::vector<const ResourceEntry*> leaves;           // in the same walk
    std::vector<const std::u16string*> names;
    std::map<const ResourceDirectory*, uint32_t> directoryAt;
    std::map<const ResourceEntry*, uint32_t> recordAt;
    std::map<const ResourceEntry*, uint32_t> dataAt;
    std::map<const std::u16string*, uint32_t> nameAt;
    uint32_t namesAt = 0;
    uint32_t dataStart = 0;
    uint32_t end = 0;

    void Walk(const ResourceDirectory& directory)
    {
        directories.push_back(&directory);
        for (size_t i : WritingOrder(directory)) {
            const ResourceEntry& entry = directory.entries[i];
            if (entry.key.named)
                names.push_back(&entry.key.name);
            if (entry.directory)
                Walk(*entry.directory);
            else
                leaves.push_back(&entry);
        }
    }

    void Place()
    {
        uint64_t at = 0;
        for (const ResourceDirectory* directory : directories) {
            directoryAt[directory] = static_cast<uint32_t>(at);
            at += DIRECTORY_SIZE + directory->entries.size() * ENTRY_SIZE;
        }
        for (const ResourceEntry* leaf : leaves) {
            recordAt[leaf] = static_cast<uint32_t>(at);
            at += DATA_ENTRY_SIZE;
        }
        namesAt = static_cast<uint32_t>(at);
        for (const std::u16string* name : names) {
            at = AlignUp(at, NAME_ALIGNMENT);
            nameAt[name] = static_cast<uint32_t>(at);
            at += 2 + name->size() * 2;
        }
        at = AlignUp(at, DATA_ALIGNMENT);
        dataStart = static_cast<uint32_t>(at);
        for (const ResourceEntry* leaf : leaves) {
            at = AlignUp(at, DATA_ALIGNMENT);
            dataAt[leaf] = static_cast<uint32_t>(at);
            at += leaf->data.size();
        }
        end = static_cast<uint32_t>(AlignUp(at, DATA_ALIGNMENT));
    }
};

// A sz_Or_Ord field: 0 for none, 0xFFFF and a number, or a NUL-terminated string.
bool ReadDialogText(ByteView bytes, uint64_t* at, DialogText* field)
{
    if (!bytes.Has(*at, 2))
        return false;
    uint16_t first = bytes.U16(*at);
    if (first == 0xFFFF) {
        if (!bytes.Has(*at + 2, 2))
            return false;
        field->ordinal = true;
        field->id = bytes.U16(*at + 2);
        *at += 4;
        return true;
    }
    for (;; *at += 2) {
        if (!bytes.Has(*at, 2))
            return false;
        uint16_t unit = bytes.U16(*at);
        if (unit == 0)
            break;
        field->text.push_back(static_cast<char16_t>(unit));
    }
    *at += 2;
    return true;
}

bool ReadDialogString(ByteView bytes, uint64_t* at, std::u16string* text)
{
    DialogText field;
    // A string field that starts with 0xFFFF is no string at all.
    if (bytes.U16(*at) == 0xFFFF || !ReadDialogText(bytes, at, &field))
        return false;
    *text = field.text;
    return true;
}

void PutString(ByteBuffer* out, const std::u16string& text)
{
    for (char16_t unit : text)
        PutU16(out, static_cast<uint16_t>(unit));
    PutU16(out, 0);
}

void PutDialogText(ByteBuffer* out, const DialogText& field)
{
    if (field.ordinal) {
        PutU16(out, 0xFFFF);
        PutU16(out, field.id);
    } else {
        PutString(out, field.text);
    }
}

const uint32_t DS_SETFONT_STYLE = 0x40;
const uint16_t EXTENDED_SIGNATURE = 0xFFFF;
const uint32_t FIXED_INFO_SIGNATURE = 0xFEEF04BD;
const size_t FIXED_FILE_VERSION_AT = 8;
const size_t FIXED_PRODUCT_VERSION_AT = 16;

const char16_t STRING_FILE_INFO[] = u"StringFileInfo";
const char16_t VAR_FILE_INFO[] = u"VarFileInfo";

enum class VersionKind { None, Root, StringFileInfo, StringTable, VarFileInfo, Leaf };

// What a node is, from its parent and its own key.
VersionKind KindOf(VersionKind parent, const std::u16string& key)
{
    switch (parent) {
    case VersionKind::None:
        return VersionKind::Root;
    case VersionKind::Root:
        return key == STRING_FILE_INFO ? VersionKind::StringFileInfo
               : key == VAR_FILE_INFO  ? VersionKind::VarFileInfo
                                       : VersionKind::Leaf;
    case VersionKind::StringFileInfo:
        return VersionKind::StringTable;
    default:
        return VersionKind::Leaf;
    }
}

// Offsets count from the block's start, which is 4-byte aligned in memory.
uint64_t Align4(uint64_t at)
{
    return AlignUp(at, 4);
}

bool ReadVersionNode(ByteView block, uint64_t at, uint64_t end, VersionKind parent, VersionNode* node)
{
    const size_t HEADER_SIZE = 6;  // length, value length, type
    if (!block.Has(at, HEADER_SIZE))
        return false;
    uint16_t length = block.U16(at);
    node->valueLength = block.U16(at + 2);
    node->type = block.U16(at + 4);
    if (length < HEADER_SIZE || at + length > end)
        return false;
    uint64_t nodeEnd = at + length;
    uint64_t p = at + HEADER_SIZE;
    for (;; p += 2) {
        if (p + 2 > nodeEnd)
            return false;
        uint16_t unit = block.U16(p);
        if (unit == 0)
            break;
        node->key.push_back(static_cast<char16_t>(unit));
    }
    p = Align4(p + 2);
    VersionKind kind = KindOf(parent, node->key);
    if (kind == VersionKind::Leaf) {
        // A leaf's value runs to its end, whatever its value length says.
        if (p < nodeEnd)
            node->value = CopyBytes(block, p, nodeEnd - p);
        return true;
    }
    if (kind == VersionKind::Root) {
        // VS_FIXEDFILEINFO, binary: its length is in bytes.
        if (p + node->valueLength > nodeEnd)
            return false;
        node->value = CopyBytes(block, p, node->valueLength);
        p = Align4(p + node->valueLength);
    }
    while (p + HEADER_SIZE <= nodeEnd) {
        uint16_t childLength = block.U16(p);
        if (childLength == 0)
            return false;
        VersionNode child;
        if (!ReadVersionNode(block, p, nodeEnd, kind, &child))
            return false;
        node->children.push_back(std::move(child));
        p = Align4(p + childLength);
    }
    return true;
}

bool WriteVersionNode(const VersionNode& node, ByteBuffer* out)
{
    size_t start = out->size();
    PutU16(out, 0);  // the length, once known
    PutU16(out, node.valueLength);
    PutU16(out, node.type);
    PutString(out, node.key);
    PadTo(out, 4);
    PutBytes(out, node.value);
    for (const VersionNode& child : node.children) {
        PadTo(out, 4);
        if (!WriteVersionNode(child, out))
            return false;
    }
    size_t length = out->size() - start;
    if (length > 0xFFFF)
        return false;
    SetU16(out, start, static_cast<uint16_t>(length));
    return true;
}

}  // namespace

ResourceKey ResourceKey::Id(uint16_t id)
{
    ResourceKey key;
    key.id = id;
    return key;
}

bool ResourceKey::operator==(const ResourceKey& other) const
{
    return named == other.named && (named ? name == other.name : id == other.id);
}

bool ResourceKeyLess(const ResourceKey& a, const ResourceKey& b)
{
    if (a.named != b.named)
        return a.named;
    return a.named ? a.name < b.name : a.id < b.id;
}

ResourceEntry* ResourceDirectory::Find(const ResourceKey& key)
{
    for (ResourceEntry& entry : entries)
        if (entry.key == key)
            return &entry;
    return nullptr;
}

const ResourceEntry* ResourceDirectory::Find(const ResourceKey& key) const
{
    for (const ResourceEntry& entry : entries)
        if (entry.key == key)
            return &entry;
    return nullptr;
}

ResourceEntry& ResourceDirectory::Insert(ResourceEntry entry)
{
    auto at = std::upper_bound(entries.begin(), entries.end(), entry,
                               [](const ResourceEntry& a, const ResourceEntry& b) { return ResourceKeyLess(a.key, b.key); });
    return *entries.insert(at, std::move(entry));
}

void ResourceDirectory::Remove(const ResourceKey& key)
{
    entries.erase(std::remove_if(entries.begin(), entries.end(), [&](const ResourceEntry& e) { return e.key == key; }),
                  entries.end());
}

ResourceDirectory* FindResourceLanguages(ResourceDirectory& root, uint16_t type, uint16_t id)
{
    ResourceEntry* kind = root.Find(ResourceKey::Id(type));
    ResourceEntry* name = kind && kind->directory ? kind->directory->Find(ResourceKey::Id(id)) : nullptr;
    return name ? name->directory.get() : nullptr;
}

const ResourceDirectory* FindResourceLanguages(const ResourceDirectory& root, uint16_t type, uint16_t id)
{
    return FindResourceLanguages(const_cast<ResourceDirectory&>(root), type, id);
}

bool ReadResourceTree(ByteView section, uint32_t rva, ResourceDirectory* root, std::string* detail)
{
    *root = ResourceDirectory();
    TreeReader reader(section, rva, detail);
    return reader.Directory(0, 0, root);
}

ByteBuffer WriteResourceTree(const ResourceDirectory& root, uint32_t rva)
{
    TreeLayout layout;
    layout.Walk(root);
    layout.Place();
    ByteBuffer out;
    out.reserve(layout.end);
    for (const ResourceDirectory* directory : layout.directories) {
        std::vector<size_t> order = WritingOrder(*directory);
        uint16_t named = 0;
        for (const ResourceEntry& entry : directory->entries)
            named = static_cast<uint16_t>(named + (entry.key.named ? 1 : 0));
        PutU32(&out, directory->characteristics);
        PutU32(&out, directory->timeDateStamp);
        PutU16(&out, directory->majorVersion);
        PutU16(&out, directory->minorVersion);
        PutU16(&out, named);
        PutU16(&out, static_cast<uint16_t>(directory->entries.size() - named));
        for (size_t i : order) {
            const ResourceEntry& entry = directory->entries[i];
            PutU32(&out, entry.key.named ? HIGH_BIT | layout.nameAt[&entry.key.name] : entry.key.id);
            PutU32(&out, entry.directory ? HIGH_BIT | layout.directoryAt[entry.directory.get()] : layout.recordAt[&entry]);
        }
    }
    for (const ResourceEntry* leaf : layout.leaves) {
        PutU32(&out, rva + layout.dataAt[leaf]);
        PutU32(&out, static_cast<uint32_t>(leaf->data.size()));
        PutU32(&out, leaf->codePage);
        PutU32(&out, leaf->reserved);
    }
    for (const std::u16string* name : layout.names) {
        PadTo(&out, NAME_ALIGNMENT);
        PutU16(&out, static_cast<uint16_t>(name->size()));
        for (char16_t unit : *name)
            PutU16(&out, static_cast<uint16_t>(unit));
    }
    for (const ResourceEntry* leaf : layout.leaves) {
        PadTo(&out, DATA_ALIGNMENT);
        PutBytes(&out, leaf->data);
    }
    PadTo(&out, DATA_ALIGNMENT);
    return out;
}

bool ReadVersionBlock(ByteView block, VersionNode* root)
{
    *root = VersionNode();
    return ReadVersionNode(block, 0, block.size, VersionKind::None, root);
}

bool WriteVersionBlock(const VersionNode& root, ByteBuffer* block)
{
    block->clear();
    return WriteVersionNode(root, block);
}

std::vector<VersionNode*> VersionStringTables(VersionNode& root)
{
    std::vector<VersionNode*> tables;
    for (VersionNode& child : root.children)
        if (child.key == STRING_FILE_INFO)
            for (VersionNode& table : child.children)
                tables.push_back(&table);
    return tables;
}

std::vector<const VersionNode*> VersionStringTables(const VersionNode& root)
{
    std::vector<const VersionNode*> tables;
    for (VersionNode* table : VersionStringTables(const_cast<VersionNode&>(root)))
        tables.push_back(table);
    return tables;
}

std::u16string VersionStringValue(const VersionNode& string)
{
    std::u16string text;
    ByteView value(string.value);
    for (uint64_t at = 0; value.Has(at, 2) && value.U16(at) != 0; at += 2)
        text.push_back(static_cast<char16_t>(value.U16(at)));
    return text;
}

void SetVersionString(VersionNode* table, const std::u16string& key, const std::u16string& value)
{
    VersionNode* string = nullptr;
    for (VersionNode& child : table->children)
        if (child.key == key)
            string = &child;
    if (string == nullptr) {
        table->children.emplace_back();
        string = &table->children.back();
        string->key = key;
    }
    // The value length counts UTF-16 units with the NUL.
    string->type = 1;
    string->valueLength = static_cast<uint16_t>(value.size() + 1);
    string->value.clear();
    PutString(&string->value, value);
}

bool ReadFixedVersions(const VersionNode& root, uint16_t file[4], uint16_t product[4])
{
    ByteView fixed(root.value);
    if (!fixed.Has(0, FIXED_PRODUCT_VERSION_AT + 8) || fixed.U32(0) != FIXED_INFO_SIGNATURE)
        return false;
    for (int i = 0; i < 2; ++i) {
        uint32_t fileHalf = fixed.U32(FIXED_FILE_VERSION_AT + 4 * i);
        uint32_t productHalf = fixed.U32(FIXED_PRODUCT_VERSION_AT + 4 * i);
        file[2 * i] = static_cast<uint16_t>(fileHalf >> 16);
        file[2 * i + 1] = static_cast<uint16_t>(fileHalf);
        product[2 * i] = static_cast<uint16_t>(productHalf >> 16);
        product[2 * i + 1] = static_cast<uint16_t>(productHalf);
    }
    return true;
}

bool SetFixedVersions(VersionNode* root, const uint16_t version[4])
{
    uint16_t file[4], product[4];
    if (!ReadFixedVersions(*root, file, product))
        return false;
    for (int i = 0; i < 2; ++i) {
        uint32_t half = uint32_t(version[2 * i]) << 16 | version[2 * i + 1];
        SetU32(&root->value, FIXED_FILE_VERSION_AT + 4 * i, half);
        SetU32(&root->value, FIXED_PRODUCT_VERSION_AT + 4 * i, half);
    }
    return true;
}

bool ReadDialogTemplate(ByteView bytes, DialogTemplate* dialog)
{
    *dialog = DialogTemplate();
    uint64_t at = 0;
    dialog->extended = bytes.Has(0, 4) && bytes.U16(0) == 1 && bytes.U16(2) == EXTENDED_SIGNATURE;
    if (dialog->extended) {
        // dlgVer, signature, helpID, exStyle, style.
        if (!bytes.Has(0, 16))
            return false;
        dialog->version = bytes.U16(0);
        dialog->helpId = bytes.U32(4);
        dialog->exStyle = bytes.U32(8);
        dialog->style = bytes.U32(12);
        at = 16;
    } else {
        if (!bytes.Has(0, 8))
            return false;
        dialog->style = bytes.U32(0);
        dialog->exStyle = bytes.U32(4);
        at = 8;
    }
    // The item count, then position and size.
    if (!bytes.Has(at, 10))
        return false;
    uint16_t count = bytes.U16(at);
    dialog->x = static_cast<int16_t>(bytes.U16(at + 2));
    dialog->y = static_cast<int16_t>(bytes.U16(at + 4));
    dialog->cx = static_cast<int16_t>(bytes.U16(at + 6));
    dialog->cy = static_cast<int16_t>(bytes.U16(at + 8));
    at += 10;
    if (!ReadDialogText(bytes, &at, &dialog->menu) || !ReadDialogText(bytes, &at, &dialog->windowClass) ||
        !ReadDialogString(bytes, &at, &dialog->title))
        return false;
    if (dialog->style & DS_SETFONT_STYLE) {
        size_t fontSize = dialog->extended ? 6 : 2;  // point size, then weight, italic, charset
        if (!bytes.Has(at, fontSize))
            return false;
        dialog->pointSize = bytes.U16(at);
        if (dialog->extended) {
            dialog->weight = bytes.U16(at + 2);
            dialog->italic = bytes.U8(at + 4);
            dialog->charset = bytes.U8(at + 5);
        }
        at += fontSize;
        if (!ReadDialogString(bytes, &at, &dialog->face))
            return false;
    }
    for (uint16_t i = 0; i < count; ++i) {
        at = Align4(at);  // each item starts on a 4-byte boundary
        DialogItem item;
        size_t fixedSize = dialog->extended ? 24 : 18;
        if (!bytes.Has(at, fixedSize))
            return false;
        if (dialog->extended) {
            item.helpId = bytes.U32(at);
            item.exStyle = bytes.U32(at + 4);
            item.style = bytes.U32(at + 8);
            at += 12;
        } else {
            item.style = bytes.U32(at);
            item.exStyle = bytes.U32(at + 4);
            at += 8;
        }
        item.x = static_cast<int16_t>(bytes.U16(at));
        item.y = static_cast<int16_t>(bytes.U16(at + 2));
        item.cx = static_cast<int16_t>(bytes.U16(at + 4));
        item.cy = static_cast<int16_t>(bytes.U16(at + 6));
        item.id = dialog->extended ? bytes.U32(at + 8) : bytes.U16(at + 8);
        at += dialog->extended ? 12 : 10;
        if (!ReadDialogText(bytes, &at, &item.windowClass) || !ReadDialogText(bytes, &at, &item.title))
            return false;
        // Creation data: its size in bytes, then the bytes.
        if (!bytes.Has(at, 2) || !bytes.Has(at + 2, bytes.U16(at)))
            return false;
        item.creationData = CopyBytes(bytes, at + 2, bytes.U16(at));
        at += 2 + item.creationData.size();
        dialog->items.push_back(std::move(item));
    }
    return true;
}

ByteBuffer WriteDialogTemplate(const DialogTemplate& dialog)
{
    ByteBuffer out;
    if (dialog.extended) {
        PutU16(&out, dialog.version);
        PutU16(&out, EXTENDED_SIGNATURE);
        PutU32(&out, dialog.helpId);
        PutU32(&out, dialog.exStyle);
        PutU32(&out, dialog.style);
    } else {
        PutU32(&out, dialog.style);
        PutU32(&out, dialog.exStyle);
    }
    PutU16(&out, static_cast<uint16_t>(dialog.items.size()));
    for (int16_t value : {dialog.x, dialog.y, dialog.cx, dialog.cy})
        PutU16(&out, static_cast<uint16_t>(value));
    PutDialogText(&out, dialog.menu);
    PutDialogText(&out, dialog.windowClass);
    PutString(&out, dialog.title);
    if (dialog.style & DS_SETFONT_STYLE) {
        PutU16(&out, dialog.pointSize);
        if (dialog.extended) {
            PutU16(&out, dialog.weight);
            PutU8(&out, dialog.italic);
            PutU8(&out, dialog.charset);
        }
        PutString(&out, dialog.face);
    }
    for (const DialogItem& item : dialog.items) {
        PadTo(&out, 4);
        if (dialog.extended) {
            PutU32(&out, item.helpId);
            PutU32(&out, item.exStyle);
            PutU32(&out, item.style);
        } else {
            PutU32(&out, item.style);
            PutU32(&out, item.exStyle);
        }
        for (int16_t value : {item.x, item.y, item.cx, item.cy})
            PutU16(&out, static_cast<uint16_t>(value));
        if (dialog.extended)
            PutU32(&out, item.id);
        else
            PutU16(&out, static_cast<uint16_t>(item.id));
        PutDialogText(&out, item.windowClass);
        PutDialogText(&out, item.title);
        PutU16(&out, static_cast<uint16_t>(item.creationData.size()));
        PutBytes(&out, item.creationData);
    }
    return out;
}

bool ReadStringBlock(ByteView bytes, std::u16string strings[STRINGS_PER_BLOCK])
{
    uint64_t at = 0;
    for (size_t i = 0; i < STRINGS_PER_BLOCK; ++i) {
        strings[i].clear();
        if (!bytes.Has(at, 2))
            return false;
        uint16_t length = bytes.U16(at);
        if (!bytes.Has(at + 2, uint64_t(length) * 2))
            return false;
        for (uint16_t k = 0; k < length; ++k)
            strings[i].push_back(static_cast<char16_t>(bytes.U16(at + 2 + k * 2)));
        at += 2 + uint64_t(length) * 2;
    }
    return true;
}

ByteBuffer WriteStringBlock(const std::u16string strings[STRINGS_PER_BLOCK])
{
    ByteBuffer out;
    for (size_t i = 0; i < STRINGS_PER_BLOCK; ++i) {
        PutU16(&out, static_cast<uint16_t>(strings[i].size()));
        for (char16_t unit : strings[i])
            PutU16(&out, static_cast<uint16_t>(unit));
    }
    return out;
}

bool ReadIconGroup(ByteView bytes, std::vector<IconGroupEntry>* entries)
{
    const size_t HEADER_SIZE = 6, GROUP_ENTRY_SIZE = 14;
    entries->clear();
    if (!bytes.Has(0, HEADER_SIZE) || bytes.U16(0) != 0 || bytes.U16(2) != 1)
        return false;
    uint16_t count = bytes.U16(4);
    if (!bytes.Has(HEADER_SIZE, uint64_t(count) * GROUP_ENTRY_SIZE))
        return false;
    for (uint16_t i = 0; i < count; ++i) {
        uint64_t at = HEADER_SIZE + uint64_t(i) * GROUP_ENTRY_SIZE;
        IconGroupEntry entry;
        entry.width = bytes.U8(at);
        entry.height = bytes.U8(at + 1);
        entry.colorCount = bytes.U8(at + 2);
        entry.reserved = bytes.U8(at + 3);
        entry.planes = bytes.U16(at + 4);
        entry.bitCount = bytes.U16(at + 6);
        entry.bytes = bytes.U32(at + 8);
        entry.id = bytes.U16(at + 12);
        entries->push_back(entry);
    }
    return true;
}

ByteBuffer WriteIconGroup(const std::vector<IconGroupEntry>& entries)
{
    ByteBuffer out;
    PutU16(&out, 0);  // reserved
    PutU16(&out, 1);  // icons, not cursors
    PutU16(&out, static_cast<uint16_t>(entries.size()));
    for (const IconGroupEntry& entry : entries) {
        PutU8(&out, entry.width);
        PutU8(&out, entry.height);
        PutU8(&out, entry.colorCount);
        PutU8(&out, entry.reserved);
        PutU16(&out, entry.planes);
        PutU16(&out, entry.bitCount);
        PutU32(&out, entry.bytes);
        PutU16(&out, entry.id);
    }
    return out;
}
