#include "bitmap_button.h"

#include <algorithm>

namespace {
// A state's own picture: none for no id or the normal picture's (see LoadBitmaps).
void LoadStatePicture(CBitmap* picture, UINT id, UINT normalId)
{
    if (id == 0 || id == normalId)
        picture->DeleteObject();
    else
        picture->LoadBitmap(id);
}
}  // namespace

BOOL CBitmapButton::LoadBitmaps(UINT normalId, UINT selectedId, UINT focusId, UINT disabledId)
{
    BOOL loaded = m_bmpNormal.LoadBitmap(normalId);
    LoadStatePicture(&m_bmpSelected, selectedId, normalId);
    LoadStatePicture(&m_bmpFocus, focusId, normalId);
    LoadStatePicture(&m_bmpDisabled, disabledId, normalId);
    return loaded;
}

const CBitmap* CBitmapButton::PictureFor(UINT itemState) const
{
    const CBitmap* picture = &m_bmpNormal;
    if ((itemState & ODS_SELECTED) && m_bmpSelected != nullptr)
        picture = &m_bmpSelected;
    else if ((itemState & ODS_FOCUS) && m_bmpFocus != nullptr)
        picture = &m_bmpFocus;
    else if ((itemState & ODS_DISABLED) && m_bmpDisabled != nullptr)
        picture = &m_bmpDisabled;
    return *picture != nullptr ? picture : nullptr;
}

bool CBitmapButton::OnChildNotify(UINT message, WPARAM, LPARAM lParam, LRESULT* result)
{
    if (message != WM_DRAWITEM)
        return false;
    DrawItem(reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
    *result = TRUE;
    return true;
}

void CBitmapButton::DrawItem(const DRAWITEMSTRUCT* item)
{
    const CBitmap* picture = PictureFor(item->itemState);
    if (picture == nullptr)
        return;
    SIZE size = picture->GetSize();
    const RECT& rect = item->rcItem;
    int width = std::min<LONG>(size.cx, rect.right - rect.left);
    int height = std::min<LONG>(size.cy, rect.bottom - rect.top);
    CBitmapDC source(item->hDC, *picture);
    ::BitBlt(item->hDC, rect.left, rect.top, width, height, source.GetSafeHdc(), 0, 0, SRCCOPY);
}
