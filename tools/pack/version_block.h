// Version blocks (RT_VERSION): VS_VERSIONINFO, its fixed file information
// and its string tables, as a tree of nodes. A block is walked by its nodes'
// lengths, with 4-byte alignment, never by their value lengths, on which
// resource compilers disagree.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "byte_io.h"

// A node: its key, its value, its children. The value length field is kept
// as stored, whatever unit its resource compiler counted in.
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
