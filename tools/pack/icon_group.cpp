#include "icon_group.h"

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
