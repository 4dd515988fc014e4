// The launcher window: the splash picture with its picture buttons.
#pragma once

#include "framework.h"
#include "resource.h"
#include "stage.h"

// The launcher's main dialog: paints the splash, routes the buttons to the
// edition commands and owns the staging path they fill.
class CLauncherDlg : public CDialog {
public:
    explicit CLauncherDlg(CWnd* pParent = nullptr);
    ~CLauncherDlg() override;

    enum { IDD = IDD_LAUNCHER_DIALOG };

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    MessageMap GetMessageMap() const override;

    void OnSysCommand(UINT nID, LPARAM lParam);
    void OnPaint();
    HCURSOR OnQueryDragIcon();
    HBRUSH OnCtlColor(CDC* pDC, CWnd* pWnd, UINT nCtlColor);
    void OnSetupSimplified();
    void OnSetupTraditional();
    void OnSetupEnglish();
    void OnExitSetup();

    CBitmap m_bmpBackground;
    CBrush m_brBackground;
    char m_szStageDir[STAGE_PATH_SIZE];
    CBitmapButton m_btnTraditional;
    CBitmapButton m_btnEnglish;
    CBitmapButton m_btnExit;
    CBitmapButton m_btnSimplified;
    HICON m_hIcon;

private:
    // Runs the edition command of a button, then ends the dialog.
    void RunCommand(int buttonId);
};
