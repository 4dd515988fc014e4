#include "version_block.h"

#include <utility>

namespace {

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
    if (!ReadUtf16z(ByteView(block.data, static_cast<size_t>(nodeEnd)), &p, &node->key))
        return false;
    p = Align4(p);
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
    PutUtf16z(out, node.key);
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
    uint64_t at = 0;
    ReadUtf16z(ByteView(string.value), &at, &text);  // without a NUL, all of it
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
    PutUtf16z(&string->value, value);
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
