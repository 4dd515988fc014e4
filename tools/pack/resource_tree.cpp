#include "resource_tree.h"

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
        if (!ReadCountedUtf16(section_, &at, name))
            return Fail("a resource name lies outside the section");
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
        // Entries that share their data would each hold a copy: a few bytes
        // of directory could make gigabytes. Data laid out once fits in the
        // section, so the section's size bounds the bytes read.
        dataBytes_ += size;
        if (dataBytes_ > section_.size)
            return Fail("the resource data adds up to more than the resource section");
        entry->data = CopyBytes(section_, address - rva_, size);
        return true;
    }

    ByteView section_;
    uint32_t rva_;
    std::string* detail_;
    size_t entries_ = 0;
    uint64_t dataBytes_ = 0;
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
        PutCountedUtf16(&out, *name);
    }
    for (const ResourceEntry* leaf : layout.leaves) {
        PadTo(&out, DATA_ALIGNMENT);
        PutBytes(&out, leaf->data);
    }
    PadTo(&out, DATA_ALIGNMENT);
    return out;
}
