// Icon groups (RT_GROUP_ICON): the directory of one icon's images, each in
// its own RT_ICON resource.
#pragma once

#include <cstdint>
#include <vector>

#include "byte_io.h"

// One image: the icon file's directory entry (16 bytes) with the image's
// RT_ICON id in place of its offset (14 bytes).
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
