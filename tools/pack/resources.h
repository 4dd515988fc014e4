// A PE image's resources as a model: the whole directory tree with every
// data block, read from the resource section and written back as a fresh
// one; and the formats of the resources the packer rewrites: version blocks,
// dialog templates, string blocks and icon groups. Texts are UTF-16, as the
// resources hold them. Every read is bounds-checked; what is not understood
// is kept as bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "byte_io.h"
#include "utf.h"

const uint16_t RESOURCE_BITMAP = 2;
const uint16_t RESOURCE_ICON = 3;
const uint16_t RESOURCE_DIALOG = 5;
const uint16_t RESOURCE_STRING = 6;
const uint16_t RESOURCE_GROUP_ICON = 14;
const uint16_t RESOURCE_VERSION = 16;

// A directory entry's name: a number, or a string.
struct ResourceKey {
    bool named = false;
    uint16_t id = 0;
    std::u16string name;

    static ResourceKey Id(uint16_t id);
    bool operator==(const ResourceKey& other) const;
};
// The order Windows searches in: named entries first, by their UTF-16 code
// units, then numbers ascending.
bool ResourceKeyLess(const ResourceKey& a, const ResourceKey& b);

struct ResourceDirectory;

// An entry: a subdirectory, or one resource's data.
struct ResourceEntry {
    ResourceKey key;
    std::unique_ptr<ResourceDirectory> directory;
    ByteBuffer data;
    uint32_t codePage = 0;
    uint32_t reserved = 0;
};

struct ResourceDirectory {
    uint32_t characteristics = 0;
    uint32_t timeDateStamp = 0;
    uint16_t majorVersion = 0;
    uint16_t minorVersion = 0;
    std::vector<ResourceEntry> entries;

    ResourceEntry* Find(const ResourceKey& key);
    const ResourceEntry* Find(const ResourceKey& key) const;
    // Adds the entry in its place in the order; returns it.
    ResourceEntry& Insert(ResourceEntry entry);
    void Remove(const ResourceKey& key);
};

// The languages of resource type/id: the third level of the tree, or null.
ResourceDirectory* FindResourceLanguages(ResourceDirectory& root, uint16_t type, uint16_t id);
const ResourceDirectory* FindResourceLanguages(const ResourceDirectory& root, uint16_t type, uint16_t id);

// Reads the tree of a resource section laid at virtual address rva. False
// for a damaged tree (an offset outside the section, too deep, too many
// entries), with what was wrong in *detail.
bool ReadResourceTree(ByteView section, uint32_t rva, ResourceDirectory* root, std::string* detail);
// Writes a resource section for virtual address rva: the directory tables
// (depth first), then the data-entry records, then the names (2-byte
// aligned), then the data (8-byte aligned), each directory's entries in
// ResourceKeyLess order. The section's size is a multiple of 8.
ByteBuffer WriteResourceTree(const ResourceDirectory& root, uint32_t rva);

// A version block node. Blocks are walked by their lengths, 4-byte aligned;
// the value length field is kept as stored, since resource compilers disagree
// on its unit for strings.
struct VersionNode {
    std::u16string key;
    uint16_t valueLength = 0;
    uint16_t type = 0;  // 1 for text
    ByteBuffer value;
    std::vector<VersionNode> children;
};

// VS_VERSIONINFO with its fixed file information, StringFileInfo with its
// string tables, VarFileInfo with its values; other nodes are kept whole.
bool ReadVersionBlock(ByteView block, VersionNode* root);
// False when a node would outgrow its 16-bit length.
bool WriteVersionBlock(const VersionNode& root, ByteBuffer* block);
// The tables of strings ("080404b0"...) under StringFileInfo.
std::vector<VersionNode*> VersionStringTables(VersionNode& root);
std::vector<const VersionNode*> VersionStringTables(const VersionNode& root);
// A string's text, up to its first NUL.
std::u16string VersionStringValue(const VersionNode& string);
// Sets the string, adding it at the table's end when it has none.
void SetVersionString(VersionNode* table, const std::u16string& key, const std::u16string& value);
// The fixed file and product versions, four numbers each; false when the
// block has no VS_FIXEDFILEINFO.
bool ReadFixedVersions(const VersionNode& root, uint16_t file[4], uint16_t product[4]);
bool SetFixedVersions(VersionNode* root, const uint16_t version[4]);

// A dialog template field that is a number (0xFFFF, then the number) or a string.
struct DialogText {
    bool ordinal = false;
    uint16_t id = 0;
    std::u16string text;
};

struct DialogItem {
    uint32_t helpId = 0;  // extended templates only
    uint32_t exStyle = 0;
    uint32_t style = 0;
    int16_t x = 0, y = 0, cx = 0, cy = 0;
    uint32_t id = 0;  // 16 bits in a classic template
    DialogText windowClass;
    DialogText title;
    ByteBuffer creationData;
};

// DLGTEMPLATE, or DLGTEMPLATEEX when extended, with its items.
struct DialogTemplate {
    bool extended = false;
    uint16_t version = 1;  // extended templates only
    uint32_t helpId = 0;   // extended templates only
    uint32_t exStyle = 0;
    uint32_t style = 0;
    int16_t x = 0, y = 0, cx = 0, cy = 0;
    DialogText menu;
    DialogText windowClass;
    std::u16string title;
    // With DS_SETFONT: the font (weight, italic and charset in extended ones).
    uint16_t pointSize = 0;
    uint16_t weight = 0;
    uint8_t italic = 0;
    uint8_t charset = 0;
    std::u16string face;
    std::vector<DialogItem> items;
};

bool ReadDialogTemplate(ByteView bytes, DialogTemplate* dialog);
ByteBuffer WriteDialogTemplate(const DialogTemplate& dialog);

// A string table block: RT_STRING n holds the strings 16 (n - 1) to 16 n - 1.
const size_t STRINGS_PER_BLOCK = 16;
bool ReadStringBlock(ByteView bytes, std::u16string strings[STRINGS_PER_BLOCK]);
ByteBuffer WriteStringBlock(const std::u16string strings[STRINGS_PER_BLOCK]);

// One image of an icon group (RT_GROUP_ICON): the icon file's directory entry
// with the image's RT_ICON id in place of its offset.
struct IconGroupEntry {
    uint8_t width = 0;  // 0 for 256
    uint8_t height = 0;
    uint8_t colorCount = 0;
    uint8_t reserved = 0;
    uint16_t planes = 0;
    uint16_t bitCount = 0;
    uint32_t bytes = 0;
    uint16_t id = 0;
};

bool ReadIconGroup(ByteView bytes, std::vector<IconGroupEntry>* entries);
ByteBuffer WriteIconGroup(const std::vector<IconGroupEntry>& entries);
