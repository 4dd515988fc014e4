// Message maps: each entry reaches its member with the message's parameters
// unpacked; what no entry takes falls through untouched.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework.h"

namespace {

const LRESULT UNTOUCHED = 0x5EED;
const UINT ID_FIRST = 1000;
const UINT ID_SECOND = 1001;

// A window object with one entry of every kind, recording each call.
class Recorder : public CWnd {
public:
    MessageMap GetMessageMap() const override;

    void OnPaint() { calls.push_back("paint"); }
    void OnSysCommand(UINT nID, LPARAM lParam)
    {
        calls.push_back("syscommand");
        sysId = nID;
        sysParam = lParam;
    }
    HCURSOR OnQueryDragIcon()
    {
        calls.push_back("dragicon");
        return dragCursor;
    }
    void OnFirst() { calls.push_back("first"); }
    void OnSecond() { calls.push_back("second"); }
    HBRUSH OnCtlColor(CDC* pDC, CWnd* pWnd, UINT nCtlColor)
    {
        calls.push_back("ctlcolor");
        colourDc = pDC->GetSafeHdc();
        colourWindow = pWnd;
        colourHwnd = pWnd != nullptr ? pWnd->GetSafeHwnd() : nullptr;
        colourKind = nCtlColor;
        return brush;
    }

    std::vector<std::string> calls;
    UINT sysId = 0;
    LPARAM sysParam = 0;
    HCURSOR dragCursor = reinterpret_cast<HCURSOR>(0x1234);
    HDC colourDc = nullptr;
    CWnd* colourWindow = nullptr;
    HWND colourHwnd = nullptr;
    UINT colourKind = 0xFFFF;
    HBRUSH brush = reinterpret_cast<HBRUSH>(0x4321);
};

DEFINE_MESSAGE_MAP(Recorder,
    MapPaint<&Recorder::OnPaint>(),
    MapSysCommand<&Recorder::OnSysCommand>(),
    MapQueryDragIcon<&Recorder::OnQueryDragIcon>(),
    MapClicked<ID_FIRST, &Recorder::OnFirst>(),
    MapClicked<ID_SECOND, &Recorder::OnSecond>(),
    MapCtlColor<&Recorder::OnCtlColor>())

using Calls = std::vector<std::string>;

TEST(MessageMap, WindowMessagesReachTheirMembersWithTheirParameters)
{
    Recorder target;
    LRESULT result = UNTOUCHED;
    EXPECT_TRUE(target.DispatchMessageMap(WM_PAINT, 0, 0, &result));
    EXPECT_EQ(target.calls, Calls({"paint"}));
    EXPECT_EQ(result, 0);

    target.calls.clear();
    EXPECT_TRUE(target.DispatchMessageMap(WM_SYSCOMMAND, SC_CLOSE | 3, MAKELPARAM(120, 45), &result));
    EXPECT_EQ(target.calls, Calls({"syscommand"}));
    EXPECT_EQ(target.sysId, static_cast<UINT>(SC_CLOSE | 3));  // the low bits are the handler's to mask
    EXPECT_EQ(target.sysParam, MAKELPARAM(120, 45));

    target.calls.clear();
    result = UNTOUCHED;
    EXPECT_TRUE(target.DispatchMessageMap(WM_QUERYDRAGICON, 0, 0, &result));
    EXPECT_EQ(target.calls, Calls({"dragicon"}));
    EXPECT_EQ(result, reinterpret_cast<LRESULT>(target.dragCursor));
}

TEST(MessageMap, ClickedEntriesMatchBothControlIdAndNotification)
{
    Recorder target;
    LRESULT result = UNTOUCHED;
    HWND anyControl = reinterpret_cast<HWND>(0x42);

    EXPECT_TRUE(target.DispatchMessageMap(WM_COMMAND, MAKEWPARAM(ID_SECOND, BN_CLICKED), reinterpret_cast<LPARAM>(anyControl), &result));
    EXPECT_EQ(target.calls, Calls({"second"}));
    EXPECT_TRUE(target.DispatchMessageMap(WM_COMMAND, MAKEWPARAM(ID_FIRST, BN_CLICKED), 0, &result));
    EXPECT_EQ(target.calls, Calls({"second", "first"}));

    // Another notification from a mapped button, and a click from an unmapped
    // control, are not clicks of the mapped ones.
    target.calls.clear();
    result = UNTOUCHED;
    EXPECT_FALSE(target.DispatchMessageMap(WM_COMMAND, MAKEWPARAM(ID_FIRST, BN_SETFOCUS), 0, &result));
    EXPECT_FALSE(target.DispatchMessageMap(WM_COMMAND, MAKEWPARAM(ID_FIRST, BN_DOUBLECLICKED), 0, &result));
    EXPECT_FALSE(target.DispatchMessageMap(WM_COMMAND, MAKEWPARAM(1002, BN_CLICKED), 0, &result));
    EXPECT_TRUE(target.calls.empty());
    EXPECT_EQ(result, UNTOUCHED);
}

TEST(MessageMap, UnmappedMessagesFallThroughUntouched)
{
    Recorder target;
    LRESULT result = UNTOUCHED;
    for (UINT message : {WM_MOUSEMOVE, WM_TIMER, WM_SIZE, WM_ERASEBKGND, WM_DRAWITEM, WM_NOTIFY})
        EXPECT_FALSE(target.DispatchMessageMap(message, 1, 2, &result)) << "message 0x" << std::hex << message;
    EXPECT_TRUE(target.calls.empty());
    EXPECT_EQ(result, UNTOUCHED);

    CWnd noMap;
    EXPECT_FALSE(noMap.DispatchMessageMap(WM_PAINT, 0, 0, &result));
    EXPECT_EQ(result, UNTOUCHED);
}

// A real window to colour: a static control.
class StaticWindow {
public:
    StaticWindow()
        : m_hWnd(::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr))
    {
    }
    ~StaticWindow()
    {
        if (m_hWnd != nullptr)
            ::DestroyWindow(m_hWnd);
    }
    HWND m_hWnd;
};

TEST(MessageMap, CtlColorTakesEveryKindAndNamesTheWindowBeingColoured)
{
    StaticWindow own, subclassed, plain;
    ASSERT_NE(own.m_hWnd, nullptr);
    ASSERT_NE(subclassed.m_hWnd, nullptr);
    ASSERT_NE(plain.m_hWnd, nullptr);
    Recorder target;
    target.m_hWnd = own.m_hWnd;
    CWnd control;
    ASSERT_TRUE(control.SubclassWindow(subclassed.m_hWnd));
    HDC dc = reinterpret_cast<HDC>(0x77);

    // Every WM_CTLCOLOR* message, with its CTLCOLOR_* kind.
    const UINT kinds[][2] = {
        {WM_CTLCOLORMSGBOX, CTLCOLOR_MSGBOX}, {WM_CTLCOLOREDIT, CTLCOLOR_EDIT},
        {WM_CTLCOLORLISTBOX, CTLCOLOR_LISTBOX}, {WM_CTLCOLORBTN, CTLCOLOR_BTN},
        {WM_CTLCOLORDLG, CTLCOLOR_DLG}, {WM_CTLCOLORSCROLLBAR, CTLCOLOR_SCROLLBAR},
        {WM_CTLCOLORSTATIC, CTLCOLOR_STATIC},
    };
    for (const auto& kind : kinds) {
        SCOPED_TRACE(::testing::Message() << "message 0x" << std::hex << kind[0]);
        LRESULT result = UNTOUCHED;
        target.colourKind = 0xFFFF;
        EXPECT_TRUE(target.DispatchMessageMap(kind[0], reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(plain.m_hWnd), &result));
        EXPECT_EQ(target.colourKind, kind[1]);
        EXPECT_EQ(target.colourDc, dc);
        EXPECT_EQ(result, reinterpret_cast<LRESULT>(target.brush));
    }

    // The window itself, a control with an object, a control without one.
    LRESULT result = 0;
    target.DispatchMessageMap(WM_CTLCOLORDLG, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(own.m_hWnd), &result);
    EXPECT_EQ(target.colourWindow, &target);
    target.DispatchMessageMap(WM_CTLCOLORBTN, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(subclassed.m_hWnd), &result);
    EXPECT_EQ(target.colourWindow, &control);
    target.DispatchMessageMap(WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(plain.m_hWnd), &result);
    EXPECT_NE(target.colourWindow, &target);
    EXPECT_NE(target.colourWindow, &control);
    EXPECT_EQ(target.colourHwnd, plain.m_hWnd);

    target.m_hWnd = nullptr;  // borrowed for the test
}

}  // namespace
