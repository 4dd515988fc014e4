// The application object and the process start.
#pragma once

#include "wnd.h"

// The one application of the process: a global object whose InitInstance the
// process start calls. This framework runs dialog applications only: all the
// work happens inside InitInstance, so no message loop follows it, whatever
// it returns.
class CWinApp : public CCmdTarget {
public:
    CWinApp();
    ~CWinApp() override;
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    virtual BOOL InitInstance();
    // Called once InitInstance has returned; its result is the process exit code.
    virtual int ExitInstance();

    // Asks for 3-D looking dialog controls. Every Windows since 95 draws them
    // so by itself; on this platform nothing needs doing.
    BOOL Enable3dControls() { return TRUE; }

    // The standard help command. The launcher ships no help file and the old
    // help viewer is gone from current systems, so there is nothing to show:
    // the command is taken and ends quietly.
    void OnHelp();

    // The window the application lives for; none until InitInstance sets one.
    CWnd* m_pMainWnd = nullptr;
};

CWinApp* AfxGetApp();
// The module that holds the resources: the executable.
HINSTANCE AfxGetResourceHandle();

// The process start: restricts DLL loading to System32, then runs the
// application's InitInstance and ExitInstance. Returns the exit code.
int AfxWinMain();

// Dialogs may hold ActiveX controls once this is called. The launcher's dialogs
// hold only standard controls, so on this platform nothing needs doing.
inline BOOL AfxEnableControlContainer() { return TRUE; }
