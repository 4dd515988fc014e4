#include "dialog_template.h"

#include <utility>

namespace {

const uint32_t DS_SETFONT_STYLE = 0x40;
const uint16_t EXTENDED_SIGNATURE = 0xFFFF;

// A sz_Or_Ord field: 0 for none, 0xFFFF and a number, or a NUL-terminated string.
bool ReadDialogText(ByteView bytes, uint64_t* at, DialogText* field)
{
    if (bytes.U16(*at) == 0xFFFF) {
        if (!bytes.Has(*at, 4))
            return false;
        field->ordinal = true;
        field->id = bytes.U16(*at + 2);
        *at += 4;
        return true;
    }
    return ReadUtf16z(bytes, at, &field->text);
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

void PutDialogText(ByteBuffer* out, const DialogText& field)
{
    if (field.ordinal) {
        PutU16(out, 0xFFFF);
        PutU16(out, field.id);
    } else {
        PutUtf16z(out, field.text);
    }
}

}  // namespace

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
        at = AlignUp(at, 4);  // each item starts on a 4-byte boundary
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
    PutUtf16z(&out, dialog.title);
    if (dialog.style & DS_SETFONT_STYLE) {
        PutU16(&out, dialog.pointSize);
        if (dialog.extended) {
            PutU16(&out, dialog.weight);
            PutU8(&out, dialog.italic);
            PutU8(&out, dialog.charset);
        }
        PutUtf16z(&out, dialog.face);
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
