// An owner-drawn button showing one of four pictures, chosen by its state.
#pragma once

#include "wnd.h"

// A BS_OWNERDRAW button drawn from up to four bitmaps: normal, selected
// (pressed), focused and disabled. A state without its own picture shows the
// normal one; a button without pictures draws nothing.
class CBitmapButton : public CWnd {
public:
    CBitmapButton() = default;

    // Loads the pictures from the module's resources. A state given 0, or the
    // normal picture's id, has no picture of its own and shows the normal one,
    // so a picture given for every state is loaded once. TRUE when the normal
    // picture loaded.
    BOOL LoadBitmaps(UINT normalId, UINT selectedId = 0, UINT focusId = 0, UINT disabledId = 0);

    // The picture for a DRAWITEMSTRUCT item state (ODS_*); nullptr for none.
    const CBitmap* PictureFor(UINT itemState) const;

    bool OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

protected:
    virtual void DrawItem(const DRAWITEMSTRUCT* item);

    CBitmap m_bmpNormal;
    CBitmap m_bmpSelected;
    CBitmap m_bmpFocus;
    CBitmap m_bmpDisabled;
};
