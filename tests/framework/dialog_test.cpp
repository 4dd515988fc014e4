// Dialogs: a modal dialog from a template, its message map behind the dialog
// procedure, control exchange, and control objects subclassing windows.
#include <gtest/gtest.h>

#include <functional>
#include <utility>
#include <string>
#include <vector>

#include "canvas.h"
#include "framework.h"
#include "test_ids.h"

namespace {

// A control object that counts the messages passing through it.
class CountingWnd : public CWnd {
public:
    int Count(UINT message) const
    {
        int count = 0;
        for (UINT seen : m_seen)
            count += seen == message;
        return count;
    }

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        m_seen.push_back(message);
        return CWnd::WindowProc(message, wParam, lParam);
    }

private:
    std::vector<UINT> m_seen;
};

// The test dialog: runs a scenario from OnInitDialog, then ends with IDOK
// unless the scenario already ended it. A timer ends it with 999 if nothing
// else does, so a broken dialog fails the test instead of hanging it.
class TestDialog : public CDialog {
public:
    explicit TestDialog(std::function<void(TestDialog&)> scenario, UINT templateId = IDD_FRAMEWORK_TEST)
        : CDialog(templateId), m_scenario(std::move(scenario))
    {
    }

    using CDialog::UpdateData;

    MessageMap GetMessageMap() const override;

    void Post(UINT id, UINT code = BN_CLICKED)
    {
        ::PostMessageW(m_hWnd, WM_COMMAND, MAKEWPARAM(id, code), 0);
    }
    LRESULT Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) { return ::SendMessageW(m_hWnd, message, wParam, lParam); }
    HWND Item(int id) const { return ::GetDlgItem(m_hWnd, id); }

    CBitmapButton m_picture;
    CountingWnd m_plain;
    CountingWnd m_notThere;
    std::vector<std::string> m_calls;
    bool m_passClose = false;      // OnSysCommand leaves SC_CLOSE to the default handling
    bool m_nestOnClose = false;    // OnSysCommand first sends a message that is left to the default
    HBRUSH m_dialogBrush = ::CreateSolidBrush(RGB(10, 20, 30));
    CWnd* m_colouredWindow = nullptr;

    ~TestDialog() override { ::DeleteObject(m_dialogBrush); }

protected:
    void DoDataExchange(CDataExchange* pDX) override
    {
        CDialog::DoDataExchange(pDX);
        DDX_Control(pDX, IDC_PICTURE, m_picture);
        DDX_Control(pDX, IDC_PLAIN, m_plain);
        DDX_Control(pDX, IDC_NOT_THERE, m_notThere);
    }

    BOOL OnInitDialog() override
    {
        CDialog::OnInitDialog();
        ::SetTimer(m_hWnd, 1, 10000, &GiveUp);
        if (m_scenario)
            m_scenario(*this);
        Post(IDOK);
        return TRUE;
    }

    void OnOK() override
    {
        m_calls.push_back("ok");
        CDialog::OnOK();
    }
    void OnCancel() override
    {
        m_calls.push_back("cancel");
        CDialog::OnCancel();
    }

    void OnPlain() { m_calls.push_back("plain"); }
    void OnPicture() { m_calls.push_back("picture"); }
    // Records only the paints sent from OnSysCommand, not the system's own.
    void OnPaint()
    {
        if (m_inSysCommand)
            m_calls.push_back("paint");
        Default();
    }
    void OnSysCommand(UINT nID, LPARAM)
    {
        m_calls.push_back("syscommand");
        m_inSysCommand = true;
        struct Leave {
            bool& flag;
            ~Leave() { flag = false; }
        } leave{m_inSysCommand};
        if ((nID & 0xFFF0) != SC_CLOSE || m_passClose) {
            if (m_nestOnClose)
                Send(WM_PAINT);
            Default();
            return;
        }
        if (m_nestOnClose)
            Send(WM_PAINT);  // handled by leaving it to the default: that must not leak out
    }
    HCURSOR OnQueryDragIcon() { return reinterpret_cast<HCURSOR>(0x5151); }
    HBRUSH OnCtlColor(CDC* pDC, CWnd* pWnd, UINT nCtlColor)
    {
        m_colouredWindow = pWnd;
        HBRUSH base = CDialog::OnCtlColor(pDC, pWnd, nCtlColor);
        return nCtlColor == CTLCOLOR_DLG ? m_dialogBrush : base;
    }

private:
    static void CALLBACK GiveUp(HWND window, UINT, UINT_PTR, DWORD) { ::EndDialog(window, 999); }

    std::function<void(TestDialog&)> m_scenario;
    bool m_inSysCommand = false;
};

DEFINE_MESSAGE_MAP(TestDialog,
    MapClicked<IDC_PLAIN, &TestDialog::OnPlain>(),
    MapClicked<IDC_PICTURE, &TestDialog::OnPicture>(),
    MapPaint<&TestDialog::OnPaint>(),
    MapSysCommand<&TestDialog::OnSysCommand>(),
    MapQueryDragIcon<&TestDialog::OnQueryDragIcon>(),
    MapCtlColor<&TestDialog::OnCtlColor>())

using Calls = std::vector<std::string>;

TEST(Dialog, ButtonClicksReachTheirMembersAndOkEndsTheDialog)
{
    TestDialog dialog([](TestDialog& d) {
        // A real click: the button itself notifies the dialog.
        ::SendMessageW(d.Item(IDC_PLAIN), BM_CLICK, 0, 0);
        d.Send(WM_COMMAND, MAKEWPARAM(IDC_PICTURE, BN_CLICKED), reinterpret_cast<LPARAM>(d.Item(IDC_PICTURE)));
        // Not a click: no member runs.
        d.Send(WM_COMMAND, MAKEWPARAM(IDC_PLAIN, BN_SETFOCUS), reinterpret_cast<LPARAM>(d.Item(IDC_PLAIN)));
    });
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_EQ(dialog.m_calls, Calls({"plain", "picture", "ok"}));
    EXPECT_EQ(dialog.GetSafeHwnd(), nullptr) << "the window has gone";
}

TEST(Dialog, CancelAndEscapeEndTheDialogWithCancel)
{
    TestDialog byButton([](TestDialog& d) { d.Post(IDCANCEL); });
    EXPECT_EQ(byButton.DoModal(), IDCANCEL);
    EXPECT_EQ(byButton.m_calls, Calls({"cancel"}));

    // The window's close command, left to the default handling, is a cancel.
    TestDialog byClose([](TestDialog& d) {
        d.m_passClose = true;
        d.Send(WM_SYSCOMMAND, SC_CLOSE, 0);
    });
    EXPECT_EQ(byClose.DoModal(), IDCANCEL);
    EXPECT_EQ(byClose.m_calls, Calls({"syscommand", "cancel"}));
}

TEST(Dialog, AHandledMessageIsNotAlsoLeftToTheDefault)
{
    // OnSysCommand takes SC_CLOSE without Default(): the dialog stays open
    // until the scenario's IDOK.
    TestDialog taken([](TestDialog& d) { d.Send(WM_SYSCOMMAND, SC_CLOSE, 0); });
    EXPECT_EQ(taken.DoModal(), IDOK);
    EXPECT_EQ(taken.m_calls, Calls({"syscommand", "ok"}));

    // A message sent while handling another, and left to the default there,
    // does not make the outer one count as left to the default too.
    TestDialog nested([](TestDialog& d) {
        d.m_nestOnClose = true;
        d.Send(WM_SYSCOMMAND, SC_CLOSE, 0);
    });
    EXPECT_EQ(nested.DoModal(), IDOK);
    EXPECT_EQ(nested.m_calls, Calls({"syscommand", "paint", "ok"}));

    // And the other way round: Default() after a nested message still passes it on.
    TestDialog nestedPassed([](TestDialog& d) {
        d.m_nestOnClose = true;
        d.m_passClose = true;
        d.Send(WM_SYSCOMMAND, SC_CLOSE, 0);
    });
    EXPECT_EQ(nestedPassed.DoModal(), IDCANCEL);
    EXPECT_EQ(nestedPassed.m_calls, Calls({"syscommand", "paint", "cancel"}));
}

TEST(Dialog, HandlersResultsReachTheSender)
{
    LRESULT dragIcon = 0, dialogBrush = 0, buttonBrush = 0;
    CWnd* colouredDialog = nullptr;
    CWnd* colouredButton = nullptr;
    TestDialog dialog([&](TestDialog& d) {
        dragIcon = d.Send(WM_QUERYDRAGICON);
        HDC dc = ::GetDC(d.m_hWnd);
        dialogBrush = d.Send(WM_CTLCOLORDLG, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(d.m_hWnd));
        colouredDialog = d.m_colouredWindow;
        buttonBrush = d.Send(WM_CTLCOLORBTN, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(d.Item(IDC_PLAIN)));
        colouredButton = d.m_colouredWindow;
        ::ReleaseDC(d.m_hWnd, dc);
    });
    dialog.DoModal();
    EXPECT_EQ(dragIcon, 0x5151);
    EXPECT_EQ(dialogBrush, reinterpret_cast<LRESULT>(dialog.m_dialogBrush));
    EXPECT_EQ(colouredDialog, &dialog);
    // A null brush from the handler leaves the button to the system's colours.
    EXPECT_EQ(buttonBrush, reinterpret_cast<LRESULT>(::GetSysColorBrush(COLOR_BTNFACE)));
    EXPECT_EQ(colouredButton, &dialog.m_plain);
}

TEST(Dialog, CommandsNoWindowTakesGoToTheApplication)
{
    class App : public CWinApp {
    public:
        MessageMap GetMessageMap() const override
        {
            static const MessageMapEntry entries[] = {MapCommand<ID_APP_COMMAND, &App::OnAppCommand>()};
            return MessageMap{entries, 1};
        }
        void OnAppCommand() { ++commands; }
        int commands = 0;
    };
    App app;
    ASSERT_EQ(AfxGetApp(), &app);
    TestDialog dialog([](TestDialog& d) {
        d.Send(WM_COMMAND, MAKEWPARAM(ID_APP_COMMAND, 0), 0);
        d.Send(WM_COMMAND, MAKEWPARAM(IDC_PLAIN, BN_CLICKED), 0);  // the dialog's own
    });
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_EQ(app.commands, 1);
    EXPECT_EQ(dialog.m_calls, Calls({"plain", "ok"}));
}

TEST(Dialog, DrawItemReachesTheOwnerDrawnControlsObject)
{
    Canvas canvas(20, 12, WHITE);
    ASSERT_TRUE(canvas.Ready());
    LRESULT drawn = FALSE, plainDrawn = TRUE;
    TestDialog dialog([&](TestDialog& d) {
        d.m_picture.LoadBitmaps(IDB_GREEN);
        DRAWITEMSTRUCT item = {};
        item.CtlType = ODT_BUTTON;
        item.CtlID = IDC_PICTURE;
        item.itemAction = ODA_DRAWENTIRE;
        item.hwndItem = d.Item(IDC_PICTURE);
        item.hDC = canvas.Dc();
        item.rcItem = RECT{0, 0, 20, 12};
        drawn = d.Send(WM_DRAWITEM, IDC_PICTURE, reinterpret_cast<LPARAM>(&item));
        // A control whose object draws nothing: left to the system.
        item.CtlID = IDC_PLAIN;
        item.hwndItem = d.Item(IDC_PLAIN);
        plainDrawn = d.Send(WM_DRAWITEM, IDC_PLAIN, reinterpret_cast<LPARAM>(&item));
    });
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_EQ(drawn, TRUE);
    EXPECT_EQ(canvas.Count(RECT{0, 0, 8, 6}, GREEN), 8 * 6);
    EXPECT_EQ(plainDrawn, FALSE);
}

TEST(Dialog, MissingTemplateEndsAtOnce)
{
    bool ran = false;
    TestDialog dialog([&](TestDialog&) { ran = true; }, IDD_NOT_THERE);
    EXPECT_EQ(dialog.DoModal(), -1);
    EXPECT_FALSE(ran);
    EXPECT_EQ(dialog.GetSafeHwnd(), nullptr);
}

TEST(DataExchange, AttachesTemplateControlsToTheirObjects)
{
    HWND picture = nullptr, plain = nullptr;
    bool attached = false, plainAttached = false, missingDetached = false;
    int passedOnce = 0, passedAfterSecondExchange = 0;
    LRESULT textLength = 0;
    TestDialog dialog([&](TestDialog& d) {
        picture = d.Item(IDC_PICTURE);
        plain = d.Item(IDC_PLAIN);
        attached = d.m_picture.GetSafeHwnd() == picture && CWnd::FromHandlePermanent(picture) == &d.m_picture;
        plainAttached = d.m_plain.GetSafeHwnd() == plain && CWnd::FromHandlePermanent(plain) == &d.m_plain;
        missingDetached = d.m_notThere.GetSafeHwnd() == nullptr;

        // The control's messages pass through its object, then its own procedure.
        int before = d.m_plain.Count(WM_GETTEXTLENGTH);
        textLength = ::SendMessageW(plain, WM_GETTEXTLENGTH, 0, 0);
        passedOnce = d.m_plain.Count(WM_GETTEXTLENGTH) - before;

        // A second exchange leaves the controls as they are.
        d.UpdateData();
        before = d.m_plain.Count(WM_GETTEXTLENGTH);
        ::SendMessageW(plain, WM_GETTEXTLENGTH, 0, 0);
        passedAfterSecondExchange = d.m_plain.Count(WM_GETTEXTLENGTH) - before;
    });
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_TRUE(attached);
    EXPECT_TRUE(plainAttached);
    EXPECT_TRUE(missingDetached);
    EXPECT_EQ(passedOnce, 1);
    EXPECT_EQ(textLength, 5) << "the button's own procedure answered (\"Plain\")";
    EXPECT_EQ(passedAfterSecondExchange, 1);

    // The controls went with the dialog; their objects let go of them.
    EXPECT_FALSE(::IsWindow(picture));
    EXPECT_EQ(dialog.m_picture.GetSafeHwnd(), nullptr);
    EXPECT_EQ(dialog.m_plain.GetSafeHwnd(), nullptr);
}

TEST(Subclassing, AnObjectThatGoesFirstGivesTheWindowBack)
{
    HWND window = ::CreateWindowExW(0, L"BUTTON", L"Text", WS_POPUP, 0, 0, 40, 20, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    LONG_PTR ownProc = ::GetWindowLongPtrW(window, GWLP_WNDPROC);
    {
        CountingWnd object;
        ASSERT_TRUE(object.SubclassWindow(window));
        EXPECT_NE(::GetWindowLongPtrW(window, GWLP_WNDPROC), ownProc);
        EXPECT_EQ(::SendMessageW(window, WM_GETTEXTLENGTH, 0, 0), 4);
        EXPECT_EQ(object.Count(WM_GETTEXTLENGTH), 1);

        // One object per window, one window per object.
        CountingWnd second;
        EXPECT_FALSE(second.SubclassWindow(window));
        EXPECT_EQ(second.GetSafeHwnd(), nullptr);
        EXPECT_FALSE(object.SubclassWindow(window));
    }
    EXPECT_EQ(::GetWindowLongPtrW(window, GWLP_WNDPROC), ownProc);
    EXPECT_EQ(CWnd::FromHandlePermanent(window), nullptr);
    EXPECT_EQ(::SendMessageW(window, WM_GETTEXTLENGTH, 0, 0), 4) << "the window still works";
    ::DestroyWindow(window);
}

}  // namespace
