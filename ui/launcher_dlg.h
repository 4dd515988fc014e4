// The launcher window: the splash picture with its picture buttons.
#pragma once

#include <cstdint>

#include "commands.h"
#include "framework.h"
#include "resource.h"
#include "stage.h"

// The launcher's main dialog: paints the splash and routes the buttons to the
// edition commands, handing each the buffer it writes the staging folder's
// path into (the dialog itself never reads it). While a command stages, the
// window shows a wait cursor and keeps painting and answering; staging that
// takes longer than a second draws its progress over the bottom of the splash.
// A command that does not end with its setup program started tells the user
// why, in the edition's language; a start the user declines at the consent
// prompt leaves the window as it was.
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
    BOOL OnSetCursor(CWnd* pWnd, UINT nHitTest, UINT message);
    // A button's edition command: runs it, tells the user when it did not end
    // with its setup program started, then ends the dialog, but for a start
    // the user declined at the consent prompt, after which the window stays.
    void OnEditionCommand(int buttonId);

    CBitmap m_bmpBackground;
    CBrush m_brBackground;
    char m_szStageDir[STAGE_PATH_SIZE];  // filled by each edition command that stages
    CBitmapButton m_btnTraditional;
    CBitmapButton m_btnEnglish;
    CBitmapButton m_btnExit;
    CBitmapButton m_btnSimplified;
    HICON m_hIcon;

    // Staging feedback.
    bool m_bStaging = false;        // a command is staging: wait cursor, input left queued
    bool m_bShowProgress = false;   // staging has run past the threshold: the bar is drawn
    DWORD m_dwStageStart = 0;       // GetTickCount at the click
    DWORD m_dwLastShown = 0;        // when the bar was last invalidated
    uint64_t m_ullStaged = 0;       // archive bytes read so far
    uint64_t m_ullTotal = 0;        // the archive's length

private:
    // The staging's progress callback: draws the bar and handles what must
    // not wait (painting, messages sent by other programs).
    static void OnStageProgress(uint64_t done, uint64_t total, void* context);
    void PumpWaitingMessages();
    RECT ProgressRect() const;
    void DrawProgress(HDC dc) const;
    // While a start waits to be tried again: the window keeps painting.
    static void OnStartWaiting(void* context);
    // While another launcher holds the staging folder: the same, with an empty bar.
    static void OnStageWaiting(void* context);
    // After the user declined the consent prompt: the window as before the click.
    void StayAfterDeclined();
    // The message box for a command that failed, owned by the splash; for a
    // setup program that would not start, with the system's reason.
    void ShowFailure(int buttonId, CommandOutcome outcome, unsigned long startError);
    static bool SystemMessage(unsigned long error, wchar_t* out, size_t size);
};
