#include "launcher_dlg.h"

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
    MapClicked<IDC_SETUP_SIMPLIFIED, &CLauncherDlg::OnSetupSimplified>(),
    MapClicked<IDC_SETUP_TRADITIONAL, &CLauncherDlg::OnSetupTraditional>(),
    MapCtlColor<&CLauncherDlg::OnCtlColor>(),
    MapClicked<IDC_EXIT_SETUP, &CLauncherDlg::OnExitSetup>(),
    MapClicked<IDC_SETUP_ENGLISH, &CLauncherDlg::OnSetupEnglish>())

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
    } else {
        Default();
    }
}

HCURSOR CLauncherDlg::OnQueryDragIcon()
{
    return static_cast<HCURSOR>(m_hIcon);
}

void CLauncherDlg::RunCommand(int buttonId)
{
    RunEditionCommand(buttonId, m_szStageDir);
    OnOK();
}

void CLauncherDlg::OnSetupSimplified()
{
    RunCommand(IDC_SETUP_SIMPLIFIED);
}

void CLauncherDlg::OnSetupTraditional()
{
    RunCommand(IDC_SETUP_TRADITIONAL);
}

void CLauncherDlg::OnSetupEnglish()
{
    RunCommand(IDC_SETUP_ENGLISH);
}

void CLauncherDlg::OnExitSetup()
{
    RunCommand(IDC_EXIT_SETUP);
}
