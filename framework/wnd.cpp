#include "wnd.h"

#include <cstring>
#include <new>

#include "app.h"

namespace {
// A subclassed control keeps its object in this window property. Not in its
// user-data slot (GWLP_USERDATA), as a dialog keeps its own in DWLP_USER: a
// dialog's slot is the dialog procedure's, and that is ours, but a control
// belongs to its class, whose code may use the slot itself, while a property
// under our own name collides with nothing.
const wchar_t OBJECT_PROPERTY[] = L"Quorvane.CWnd";
}

bool CCmdTarget::DispatchMessageMap(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    MessageMap map = GetMessageMap();
    for (size_t i = 0; i < map.count; ++i) {
        const MessageMapEntry& entry = map.entries[i];
        if (message < entry.firstMessage || message > entry.lastMessage)
            continue;
        if (message == WM_COMMAND && (LOWORD(wParam) != entry.id || HIWORD(wParam) != entry.code))
            continue;
        *result = entry.invoke(this, message, wParam, lParam);
        return true;
    }
    return false;
}

BOOL CString::LoadString(UINT id)
{
    const wchar_t* text = nullptr;
    // With a zero buffer size LoadStringW points into the resource itself.
    int length = ::LoadStringW(AfxGetResourceHandle(), id, reinterpret_cast<LPWSTR>(&text), 0);
    delete[] m_pszText;
    m_pszText = nullptr;
    if (length <= 0 || text == nullptr)
        return FALSE;
    // Strings of one block sit back to back without terminators.
    m_pszText = new (std::nothrow) wchar_t[static_cast<size_t>(length) + 1];
    if (m_pszText == nullptr)
        return FALSE;  // no memory for it: as a string that is not there
    memcpy(m_pszText, text, static_cast<size_t>(length) * sizeof(wchar_t));
    m_pszText[length] = L'\0';
    return TRUE;
}

CWnd::~CWnd()
{
    UnsubclassWindow();
}

BOOL CWnd::SubclassWindow(HWND window)
{
    if (window == nullptr || m_pfnSuperProc != nullptr || FromHandlePermanent(window) != nullptr)
        return FALSE;
    if (!::SetPropW(window, OBJECT_PROPERTY, this))
        return FALSE;
    m_hWnd = window;
    m_pfnSuperProc = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWnd::SubclassProc)));
    return TRUE;
}

void CWnd::UnsubclassWindow()
{
    if (m_pfnSuperProc == nullptr)
        return;
    ::SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuperProc));
    ::RemovePropW(m_hWnd, OBJECT_PROPERTY);
    m_pfnSuperProc = nullptr;
    m_hWnd = nullptr;
}

CWnd* CWnd::FromHandlePermanent(HWND window)
{
    return window != nullptr ? static_cast<CWnd*>(::GetPropW(window, OBJECT_PROPERTY)) : nullptr;
}

bool CWnd::OnChildNotify(UINT, WPARAM, LPARAM, LRESULT*)
{
    return false;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    return ::CallWindowProcW(m_pfnSuperProc, m_hWnd, message, wParam, lParam);
}

LRESULT CALLBACK CWnd::SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    CWnd* self = FromHandlePermanent(window);
    if (self == nullptr)
        return ::DefWindowProcW(window, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        WNDPROC superProc = self->m_pfnSuperProc;
        self->UnsubclassWindow();
        return ::CallWindowProcW(superProc, window, message, wParam, lParam);
    }
    return self->WindowProc(message, wParam, lParam);
}

void DDX_Control(CDataExchange* pDX, int id, CWnd& control)
{
    if (control.m_hWnd != nullptr)
        return;  // attached by an earlier exchange
    HWND item = ::GetDlgItem(pDX->m_pDlgWnd->m_hWnd, id);
    control.SubclassWindow(item);
}

CWnd* message_map_detail::ObjectForWindow(CCmdTarget* target, HWND window, CWnd* standIn)
{
    CWnd* self = static_cast<CWnd*>(target);
    if (self->m_hWnd == window)
        return self;
    CWnd* object = CWnd::FromHandlePermanent(window);
    return object != nullptr ? object : standIn;
}
