#include "launcher_app.h"

#include "launcher_dlg.h"

// The one application object, made before the process start runs.
CLauncherApp theApp;

DEFINE_MESSAGE_MAP(CLauncherApp,
    MapCommand<ID_HELP, &CWinApp::OnHelp>())

BOOL CLauncherApp::InitInstance()
{
    AfxEnableControlContainer();
    Enable3dControls();

    {
        CLauncherDlg dlg;
        m_pMainWnd = &dlg;
        dlg.DoModal();  // however the dialog ended, the application ends the same way
        m_pMainWnd = nullptr;
    }

    // No message loop follows: the process ends.
    return FALSE;
}
