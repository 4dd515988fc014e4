// The About box shown from the launcher's system menu.
#pragma once

#include "framework.h"
#include "resource.h"

// The About box: name, version and legal line; no members, no handlers.
class CAboutDlg : public CDialog {
public:
    CAboutDlg() : CDialog(IDD) {}

    enum { IDD = IDD_ABOUTBOX };
};
