// Dialog templates (RT_DIALOG): DLGTEMPLATE and DLGTEMPLATEEX with their
// items, texts in UTF-16. What the packer does not change (creation data) is
// kept as bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "byte_io.h"

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
