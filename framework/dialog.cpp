#include "dialog.h"

#include "app.h"

namespace {
// Messages a dialog procedure answers through its return value rather than
// through DWLP_MSGRESULT.
bool ReturnsDirectly(UINT message)
{
    return (message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC) || message == WM_COMPAREITEM ||
           message == WM_VKEYTOITEM || message == WM_CHARTOITEM || message == WM_QUERYDRAGICON ||
           message == WM_INITDIALOG;
}
}  // namespace

CDialog::CDialog(UINT templateId, CWnd* parent) : m_nTemplateId(templateId), m_pParent(parent) {}

INT_PTR CDialog::DoModal()
{
    HWND owner = m_pParent != nullptr ? m_pParent->m_hWnd : nullptr;
    if (owner == nullptr && AfxGetApp() != nullptr && AfxGetApp()->m_pMainWnd != nullptr &&
        AfxGetApp()->m_pMainWnd != this)
        owner = AfxGetApp()->m_pMainWnd->m_hWnd;
    INT_PTR result = ::DialogBoxParamW(AfxGetResourceHandle(), MAKEINTRESOURCEW(m_nTemplateId), owner,
                                       &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
    m_hWnd = nullptr;
    return result;
}

void CDialog::DoDataExchange(CDataExchange*) {}

BOOL CDialog::OnInitDialog()
{
    UpdateData();
    return TRUE;
}

void CDialog::OnOK()
{
    EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}

HBRUSH CDialog::OnCtlColor(CDC*, CWnd*, UINT)
{
    return nullptr;
}

void CDialog::UpdateData()
{
    CDataExchange exchange{this};
    DoDataExchange(&exchange);
}

bool CDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result)
{
    if (DispatchMessageMap(message, wParam, lParam, result))
        return true;
    switch (message) {
    case WM_DRAWITEM: {
        // Owner-drawn controls draw themselves.
        auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        CWnd* control = FromHandlePermanent(item->hwndItem);
        return control != nullptr && control->OnChildNotify(message, wParam, lParam, result);
    }
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == IDOK) {
            OnOK();
            *result = 0;
            return true;
        }
        if (HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) == IDCANCEL) {
            OnCancel();
            *result = 0;
            return true;
        }
        // Commands no window takes go to the application.
        return AfxGetApp() != nullptr && AfxGetApp()->DispatchMessageMap(message, wParam, lParam, result);
    default:
        return false;
    }
}

INT_PTR CALLBACK CDialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    CDialog* self;
    if (message == WM_INITDIALOG) {
        // The dialog keeps its object in DWLP_USER, the slot the system leaves
        // to whoever wrote the dialog procedure: that is us, so nothing else
        // writes it. Subclassed controls keep theirs elsewhere (see wnd.cpp).
        self = reinterpret_cast<CDialog*>(lParam);
        ::SetWindowLongPtrW(window, DWLP_USER, lParam);
        self->m_hWnd = window;
        return self->OnInitDialog();
    }
    self = reinterpret_cast<CDialog*>(::GetWindowLongPtrW(window, DWLP_USER));
    if (self == nullptr)
        return FALSE;  // messages before WM_INITDIALOG

    bool outer = self->m_bLeaveToDefault;  // handlers may nest (a modal box inside one)
    self->m_bLeaveToDefault = false;
    LRESULT result = 0;
    bool handled = self->HandleMessage(message, wParam, lParam, &result);
    if (self->m_bLeaveToDefault)
        handled = false;
    self->m_bLeaveToDefault = outer;

    if (message == WM_NCDESTROY)
        ::SetWindowLongPtrW(window, DWLP_USER, 0);
    if (!handled)
        return FALSE;
    if (ReturnsDirectly(message))
        return static_cast<INT_PTR>(result);
    ::SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
    return TRUE;
}
