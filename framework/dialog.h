// Modal dialogs from templates, with message maps and control exchange.
#pragma once

#include "wnd.h"

// A modal dialog run from a dialog template resource.
class CDialog : public CWnd {
public:
    explicit CDialog(UINT templateId, CWnd* parent = nullptr);

    // Runs the dialog; returns what ended it (IDOK, IDCANCEL), or -1 when it
    // could not be created.
    virtual INT_PTR DoModal();

protected:
    // Attaches control objects (DDX_Control); run by OnInitDialog.
    virtual void DoDataExchange(CDataExchange* pDX);
    // Runs the data exchange; TRUE lets the system put the focus on the first tab stop.
    virtual BOOL OnInitDialog();
    // Enter, and the IDOK button: ends the dialog with IDOK.
    virtual void OnOK();
    // Escape, closing, and the IDCANCEL button: ends the dialog with IDCANCEL.
    virtual void OnCancel();

    // The colours of a control or of the dialog itself: a null brush leaves
    // them to the system's defaults.
    HBRUSH OnCtlColor(CDC* pDC, CWnd* pWnd, UINT nCtlColor);

    // Runs the data exchange again: controls not yet attached attach now.
    void UpdateData();
    void EndDialog(INT_PTR result) { ::EndDialog(m_hWnd, result); }

    // Leaves the message being handled to the system's default dialog handling.
    void Default() { m_bLeaveToDefault = true; }

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);

    UINT m_nTemplateId;
    CWnd* m_pParent;
    bool m_bLeaveToDefault = false;  // Default() was called for the message being handled
};
