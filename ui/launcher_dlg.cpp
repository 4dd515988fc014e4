#include "launcher_dlg.h"

#include <cstdio>
#include <cstring>

#include "about_dlg.h"
#include "commands.h"

CLauncherDlg::CLauncherDlg(CWnd* pParent) : CDialog(IDD, pParent)
{
    // The icon is a shared resource icon: it is never destroyed.
    m_hIcon = ::LoadIconW(AfxGetResourceHandle(), MAKEINTRESOURCEW(IDR_MAINFRAME));
}

CLauncherDlg::~CLauncherDlg()
{
    // The buttons release their pictures, then the brush and the bitmap go,
    // as each member's destructor runs.
}

void CLauncherDlg::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_SETUP_TRADITIONAL, m_btnTraditional);
    DDX_Control(pDX, IDC_SETUP_ENGLISH, m_btnEnglish);
    DDX_Control(pDX, IDC_EXIT_SETUP, m_btnExit);
    DDX_Control(pDX, IDC_SETUP_SIMPLIFIED, m_btnSimplified);
}

DEFINE_MESSAGE_MAP(CLauncherDlg,
    MapSysCommand<&CLauncherDlg::OnSysCommand>(),
    MapPaint<&CLauncherDlg::OnPaint>(),
    MapQueryDragIcon<&CLauncherDlg::OnQueryDragIcon>(),
    MapClickedId<IDC_SETUP_SIMPLIFIED, &CLauncherDlg::OnEditionCommand>(),
    MapClickedId<IDC_SETUP_TRADITIONAL, &CLauncherDlg::OnEditionCommand>(),
    MapClickedId<IDC_SETUP_ENGLISH, &CLauncherDlg::OnEditionCommand>(),
    MapClickedId<IDC_EXIT_SETUP, &CLauncherDlg::OnEditionCommand>(),
    MapCtlColor<&CLauncherDlg::OnCtlColor>(),
    MapSetCursor<&CLauncherDlg::OnSetCursor>())

BOOL CLauncherDlg::OnInitDialog()
{
    CDialog::OnInitDialog();

    // The About entry goes at the end of the system menu.
    CMenu sysMenu = GetSystemMenu(FALSE);
    if (sysMenu.GetSafeHmenu() != nullptr) {
        CString aboutMenu;
        aboutMenu.LoadString(IDS_ABOUTBOX);
        if (!aboutMenu.IsEmpty()) {
            sysMenu.AppendMenu(MF_SEPARATOR);
            sysMenu.AppendMenu(MF_STRING, IDM_ABOUTBOX, aboutMenu);
        }
    }

    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);

    m_bmpBackground.LoadBitmap(IDB_BACKGROUND);
    m_brBackground.CreatePatternBrush(&m_bmpBackground);

    // One picture for every state; the buttons keep their template size.
    m_btnSimplified.LoadBitmaps(IDB_SETUP_SIMPLIFIED, IDB_SETUP_SIMPLIFIED, IDB_SETUP_SIMPLIFIED, IDB_SETUP_SIMPLIFIED);
    m_btnTraditional.LoadBitmaps(IDB_SETUP_TRADITIONAL, IDB_SETUP_TRADITIONAL, IDB_SETUP_TRADITIONAL, IDB_SETUP_TRADITIONAL);
    m_btnExit.LoadBitmaps(IDB_EXIT_SETUP, IDB_EXIT_SETUP, IDB_EXIT_SETUP, IDB_EXIT_SETUP);

    return TRUE;  // the system focuses the first tab stop: the Simplified button
}

HBRUSH CLauncherDlg::OnCtlColor(CDC* pDC, CWnd* pWnd, UINT nCtlColor)
{
    HBRUSH hbr = CDialog::OnCtlColor(pDC, pWnd, nCtlColor);
    // The dialog's own background is the splash, tiled from the client area's
    // top-left corner; the buttons keep the default.
    if (pWnd->GetSafeHwnd() == m_hWnd)
        return m_brBackground;
    return hbr;
}

void CLauncherDlg::OnSysCommand(UINT nID, LPARAM lParam)
{
    (void)lParam;
    if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg dlgAbout;
        dlgAbout.DoModal();
    } else {
        Default();
    }
}

void CLauncherDlg::OnPaint()
{
    if (IsIconic()) {
        CPaintDC dc(m_hWnd);
        SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);

        int cxIcon = ::GetSystemMetrics(SM_CXICON);
        int cyIcon = ::GetSystemMetrics(SM_CYICON);
        RECT rect;
        GetClientRect(&rect);
        int x = (rect.right - rect.left - cxIcon + 1) / 2;
        int y = (rect.bottom - rect.top - cyIcon + 1) / 2;
        dc.DrawIcon(x, y, m_hIcon);
    } else if (m_bShowProgress) {
        // The splash is the background brush; only the bar is drawn on it.
        CPaintDC dc(m_hWnd);
        DrawProgress(dc.GetSafeHdc());
    } else {
        Default();
    }
}

namespace {

// Staging shorter than this changes nothing on the screen.
const DWORD PROGRESS_AFTER_MS = 1000;
// How often the bar is redrawn at most.
const DWORD PROGRESS_EVERY_MS = 100;

// The system's wait cursor (IDC_WAIT), shown while staging.
HCURSOR WaitCursor()
{
    return ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32514));
}

}  // namespace

BOOL CLauncherDlg::OnSetCursor(CWnd* pWnd, UINT nHitTest, UINT message)
{
    (void)pWnd;
    (void)nHitTest;
    (void)message;
    if (!m_bStaging) {
        Default();
        return FALSE;
    }
    ::SetCursor(WaitCursor());
    return TRUE;
}

HCURSOR CLauncherDlg::OnQueryDragIcon()
{
    return static_cast<HCURSOR>(m_hIcon);
}

void CLauncherDlg::OnEditionCommand(int buttonId)
{
    if (FindEdition(buttonId) == nullptr) {
        RunEditionCommand(buttonId, m_szStageDir);
        OnOK();
        return;
    }

    // From the click until the setup program has started.
    HCURSOR previous = ::SetCursor(WaitCursor());
    m_bStaging = true;
    m_bShowProgress = false;
    m_dwStageStart = ::GetTickCount();
    StageOptions options;
    options.progress = &CLauncherDlg::OnStageProgress;
    options.waiting = &CLauncherDlg::OnStageWaiting;
    options.context = this;
    StartOptions start;
    start.ownerWindow = m_hWnd;  // the consent prompt, if one is needed, comes to the front
    start.waiting = &CLauncherDlg::OnStartWaiting;
    start.context = this;
    unsigned long startError = 0;
    CommandOutcome outcome = RunEditionCommand(buttonId, m_szStageDir, options, start, &startError);
    m_bStaging = false;
    ::SetCursor(previous);
    if (outcome == CommandOutcome::Declined) {
        // The user said no at the consent prompt: an answer, not a fault.
        // The window stays as it was, to choose again or quit.
        StayAfterDeclined();
        return;
    }
    if (outcome != CommandOutcome::Started && outcome != CommandOutcome::Quit)
        ShowFailure(buttonId, outcome, startError);
    OnOK();
}

void CLauncherDlg::OnStartWaiting(void* context)
{
    static_cast<CLauncherDlg*>(context)->PumpWaitingMessages();
}

void CLauncherDlg::OnStageWaiting(void* context)
{
    // Another launcher stages into the folder: nothing staged yet, an empty bar.
    OnStageProgress(0, 0, context);
}

void CLauncherDlg::StayAfterDeclined()
{
    if (m_bShowProgress) {
        m_bShowProgress = false;
        RECT bar = ProgressRect();
        ::InvalidateRect(m_hWnd, &bar, TRUE);
    }
    // Clicks and keys made while the window was busy were meant for nothing:
    // they must not start another command now.
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, WM_MOUSEFIRST, WM_MOUSELAST, PM_REMOVE | PM_QS_INPUT)) {
    }
    while (::PeekMessageW(&msg, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE | PM_QS_INPUT)) {
    }
}

void CLauncherDlg::OnStageProgress(uint64_t done, uint64_t total, void* context)
{
    auto* self = static_cast<CLauncherDlg*>(context);
#ifdef QUORVANE_TEST_STAGE_DELAY_MS
    ::Sleep(QUORVANE_TEST_STAGE_DELAY_MS);  // test builds only: a slow disk
#endif
    self->m_ullStaged = done;
    self->m_ullTotal = total;
    DWORD now = ::GetTickCount();
    if (!self->m_bShowProgress && now - self->m_dwStageStart >= PROGRESS_AFTER_MS) {
        self->m_bShowProgress = true;
        self->m_dwLastShown = now - PROGRESS_EVERY_MS;
    }
    if (self->m_bShowProgress && now - self->m_dwLastShown >= PROGRESS_EVERY_MS) {
        RECT bar = self->ProgressRect();
        ::InvalidateRect(self->m_hWnd, &bar, TRUE);
        ::UpdateWindow(self->m_hWnd);
        self->m_dwLastShown = now;
    }
    self->PumpWaitingMessages();
}

void CLauncherDlg::PumpWaitingMessages()
{
    // Painting and messages sent from outside (which is how Windows asks
    // whether a window still answers) are handled; input stays queued, so
    // nothing can be clicked while the staging runs. The bound keeps a window
    // that never validates from holding the staging up.
    MSG msg;
    for (int i = 0; i < 64 && ::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE | PM_QS_PAINT | PM_QS_SENDMESSAGE); ++i) {
        if (msg.message == WM_QUIT) {
            ::PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        ::DispatchMessageW(&msg);
    }
}

RECT CLauncherDlg::ProgressRect() const
{
    RECT client;
    GetClientRect(&client);
    RECT bar = {client.left + 20, client.bottom - 30, client.right - 20, client.bottom - 10};
    return bar;
}

void CLauncherDlg::DrawProgress(HDC dc) const
{
    RECT bar = ProgressRect();
    ::FillRect(dc, &bar, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
    RECT filled = bar;
    if (m_ullTotal > 0) {
        uint64_t width = static_cast<uint64_t>(bar.right - bar.left);
        uint64_t done = m_ullStaged < m_ullTotal ? m_ullStaged : m_ullTotal;
        filled.right = bar.left + static_cast<LONG>(width * done / m_ullTotal);
    } else {
        filled.right = bar.left;
    }
    ::FillRect(dc, &filled, ::GetSysColorBrush(COLOR_HIGHLIGHT));
    ::FrameRect(dc, &bar, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));

    if (m_ullTotal == 0)
        return;  // waiting for the folder: no figures yet
    // Bytes staged out of the archive's total, in MB: language-neutral.
    wchar_t text[64] = {};
    _snwprintf(text, sizeof text / sizeof text[0] - 1, L"%.1f / %.1f MB", m_ullStaged / 1048576.0, m_ullTotal / 1048576.0);
    int oldMode = ::SetBkMode(dc, TRANSPARENT);
    COLORREF oldColour = ::SetTextColor(dc, RGB(0, 0, 0));
    HGDIOBJ oldFont = ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessage(WM_GETFONT)));
    ::DrawTextW(dc, text, -1, &bar, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    ::SelectObject(dc, oldFont);
    ::SetTextColor(dc, oldColour);
    ::SetBkMode(dc, oldMode);
}

void CLauncherDlg::ShowFailure(int buttonId, CommandOutcome outcome, unsigned long startError)
{
    UINT message = outcome == CommandOutcome::Damaged       ? IDS_MESSAGE_DAMAGED
                   : outcome == CommandOutcome::CannotWrite ? IDS_MESSAGE_CANNOT_WRITE
                                                            : IDS_MESSAGE_CANNOT_START;
    UINT block = IDS_EDITION_MESSAGES + 16 * static_cast<UINT>(buttonId - IDC_SETUP_SIMPLIFIED);
    CString caption, text;
    caption.LoadString(block + IDS_MESSAGE_CAPTION);
    text.LoadString(block + message);
    if (outcome != CommandOutcome::CannotStart) {
        ::MessageBoxW(m_hWnd, text, caption, MB_OK | MB_ICONERROR);
        return;
    }
    // Why, in the system's own words and the user's language, then what may
    // help: a new copy only where one could.
    CString format, advice;
    format.LoadString(block + IDS_MESSAGE_START_REASON);
    advice.LoadString(block + IDS_MESSAGE_START_ADVICE + static_cast<UINT>(ClassifyStartFailure(startError)));
    wchar_t system[384] = {};
    wchar_t reason[512] = {};
    if (SystemMessage(startError, system, sizeof system / sizeof system[0]))
        _snwprintf(reason, sizeof reason / sizeof reason[0] - 1, format, startError, system);
    wchar_t whole[1536] = {};
    _snwprintf(whole, sizeof whole / sizeof whole[0] - 1, L"%ls\n\n%ls%ls%ls", static_cast<LPCWSTR>(text), reason,
               reason[0] != L'\0' ? L"\n\n" : L"", static_cast<LPCWSTR>(advice));
    ::MessageBoxW(m_hWnd, whole, caption, MB_OK | MB_ICONERROR);
}

bool CLauncherDlg::SystemMessage(unsigned long error, wchar_t* out, size_t size)
{
    // Language 0: the user's language first, as the system has it.
    DWORD length = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                    out, static_cast<DWORD>(size), nullptr);
    while (length > 0 && (out[length - 1] == L'\r' || out[length - 1] == L'\n' || out[length - 1] == L' '))
        out[--length] = L'\0';
    return length > 0;
}
