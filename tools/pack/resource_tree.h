// A PE image's resources as a model: the whole directory tree with every
// data block, read from the resource section and written back as a fresh
// one. Names are UTF-16, as the section holds them. Every read is
// bounds-checked; the data blocks are kept as bytes, for the readers of each
// kind (version_block, dialog_template, string_block, icon_group).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "byte_io.h"

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
// entries, more data than the section holds), with what was wrong in *detail.
bool ReadResourceTree(ByteView section, uint32_t rva, ResourceDirectory* root, std::string* detail);
// Writes a resource section for virtual address rva: the directory tables
// (depth first), then the data-entry records, then the names (2-byte
// aligned), then the data (8-byte aligned), each directory's entries in
// ResourceKeyLess order. The section's size is a multiple of 8.
ByteBuffer WriteResourceTree(const ResourceDirectory& root, uint32_t rva);
