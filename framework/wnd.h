// Windows as objects: CWnd, the system menu, resource strings and DDX_Control.
#pragma once

#include <windows.h>

#include "gdi.h"
#include "message_map.h"

// A borrowed menu handle (the system menu belongs to its window).
class CMenu {
public:
    explicit CMenu(HMENU menu = nullptr) : m_hMenu(menu) {}
    HMENU GetSafeHmenu() const { return m_hMenu; }
    BOOL AppendMenu(UINT flags, UINT_PTR id = 0, LPCWSTR text = nullptr)
    {
        return ::AppendMenuW(m_hMenu, flags, id, text);
    }

    HMENU m_hMenu;
};

// A string loaded from the module's string table. UI text stays UTF-16 so it
// shows the same whatever the system's ANSI code page is. A plain buffer, not
// std::wstring: the library's string brings some 130 KB of code into a program
// of this size, and every launcher carries its stub.
class CString {
public:
    CString() = default;
    ~CString() { delete[] m_pszText; }
    CString(const CString&) = delete;
    CString& operator=(const CString&) = delete;

    // Loads string resource id; FALSE (and an empty string) when there is none.
    BOOL LoadString(UINT id);
    BOOL IsEmpty() const { return m_pszText == nullptr; }
    operator LPCWSTR() const { return m_pszText != nullptr ? m_pszText : L""; }

private:
    wchar_t* m_pszText = nullptr;  // NUL-terminated; nullptr when empty
};

// A window handle with an optional object behind it. A control subclassed by
// an object routes its messages through the object until the window goes.
class CWnd : public CCmdTarget {
public:
    explicit CWnd(HWND window = nullptr) : m_hWnd(window) {}
    ~CWnd() override;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND GetSafeHwnd() const { return m_hWnd; }
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const
    {
        return ::SendMessageW(m_hWnd, message, wParam, lParam);
    }
    BOOL IsIconic() const { return ::IsIconic(m_hWnd); }
    void GetClientRect(RECT* rect) const { ::GetClientRect(m_hWnd, rect); }
    HICON SetIcon(HICON icon, BOOL bigIcon)
    {
        return reinterpret_cast<HICON>(SendMessage(WM_SETICON, bigIcon ? ICON_BIG : ICON_SMALL,
                                                   reinterpret_cast<LPARAM>(icon)));
    }
    // The window's system menu; revert TRUE resets it to the default one.
    CMenu GetSystemMenu(BOOL revert) const { return CMenu(::GetSystemMenu(m_hWnd, revert)); }

    // Routes window's messages through this object (WindowProc) from now on.
    BOOL SubclassWindow(HWND window);
    // The object that subclassed window, or nullptr.
    static CWnd* FromHandlePermanent(HWND window);

    // A message its parent received about this control (WM_DRAWITEM), offered
    // to the control first. Returns true when handled.
    virtual bool OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

    HWND m_hWnd;

protected:
    // The subclassed window's messages; by default the control's own procedure.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);

private:
    static LRESULT CALLBACK SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void UnsubclassWindow();

    WNDPROC m_pfnSuperProc = nullptr;
};

// A data exchange: the dialog whose controls it attaches.
struct CDataExchange {
    CWnd* m_pDlgWnd;
};

// Attaches control object to the dialog's template control id (once).
void DDX_Control(CDataExchange* pDX, int id, CWnd& control);

namespace message_map_detail {
// The object for a window a message names (the control a WM_CTLCOLOR* is
// about, the window under the cursor of a WM_SETCURSOR): target itself when
// it is target's own window, else the object that subclassed it, else standIn.
CWnd* ObjectForWindow(CCmdTarget* target, HWND window, CWnd* standIn);
}  // namespace message_map_detail

// HBRUSH OnCtlColor(CDC* pDC, CWnd* pWnd, UINT nCtlColor), for every
// WM_CTLCOLOR*; nCtlColor is the CTLCOLOR_* kind.
template <auto Handler>
constexpr MessageMapEntry MapCtlColor()
{
    return {WM_CTLCOLORMSGBOX, WM_CTLCOLORSTATIC, 0, 0, [](CCmdTarget* t, UINT m, WPARAM w, LPARAM l) -> LRESULT {
                CDC dc(reinterpret_cast<HDC>(w));
                CWnd standIn(reinterpret_cast<HWND>(l));
                CWnd* window = message_map_detail::ObjectForWindow(t, reinterpret_cast<HWND>(l), &standIn);
                auto* self = static_cast<message_map_detail::ClassOf<Handler>*>(t);
                return reinterpret_cast<LRESULT>((self->*Handler)(&dc, window, m - WM_CTLCOLORMSGBOX));
            }};
}

// BOOL OnSetCursor(CWnd* pWnd, UINT nHitTest, UINT message): the window the
// cursor is over, the hit-test code and the mouse message; TRUE when the
// handler set the cursor itself.
template <auto Handler>
constexpr MessageMapEntry MapSetCursor()
{
    return {WM_SETCURSOR, WM_SETCURSOR, 0, 0, [](CCmdTarget* t, UINT, WPARAM w, LPARAM l) -> LRESULT {
                CWnd standIn(reinterpret_cast<HWND>(w));
                CWnd* window = message_map_detail::ObjectForWindow(t, reinterpret_cast<HWND>(w), &standIn);
                auto* self = static_cast<message_map_detail::ClassOf<Handler>*>(t);
                return (self->*Handler)(window, LOWORD(l), HIWORD(l));
            }};
}
