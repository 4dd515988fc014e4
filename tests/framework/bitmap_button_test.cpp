// Picture buttons: which picture each drawing state calls for, and the
// painting of it into the item rectangle.
#include <gtest/gtest.h>

#include "canvas.h"
#include "framework.h"
#include "test_ids.h"

namespace {

// The button with its pictures in view.
class PictureButton : public CBitmapButton {
public:
    using CBitmapButton::m_bmpNormal;
    using CBitmapButton::m_bmpDisabled;
    using CBitmapButton::m_bmpFocus;
    using CBitmapButton::m_bmpSelected;
};

// States the system adds to any of the four (keyboard cues, default button).
const UINT CUES = ODS_NOFOCUSRECT | ODS_NOACCEL | ODS_DEFAULT;

TEST(BitmapButtonPicture, EachStateHasItsOwnPicture)
{
    PictureButton button;
    ASSERT_TRUE(button.LoadBitmaps(IDB_RED, IDB_GREEN, IDB_BLUE, IDB_YELLOW));
    const CBitmap* normal = &button.m_bmpNormal;
    const CBitmap* selected = &button.m_bmpSelected;
    const CBitmap* focused = &button.m_bmpFocus;
    const CBitmap* disabled = &button.m_bmpDisabled;
    ASSERT_NE(selected->GetSafeHandle(), nullptr);
    ASSERT_NE(focused->GetSafeHandle(), nullptr);
    ASSERT_NE(disabled->GetSafeHandle(), nullptr);

    EXPECT_EQ(button.PictureFor(0), normal);
    EXPECT_EQ(button.PictureFor(ODS_SELECTED), selected);
    EXPECT_EQ(button.PictureFor(ODS_FOCUS), focused);
    EXPECT_EQ(button.PictureFor(ODS_DISABLED), disabled);
    // A click on a focused button: pressed shows over focused.
    EXPECT_EQ(button.PictureFor(ODS_SELECTED | ODS_FOCUS), selected);
    // Cue bits do not change the picture.
    EXPECT_EQ(button.PictureFor(CUES), normal);
    EXPECT_EQ(button.PictureFor(ODS_FOCUS | CUES), focused);
    EXPECT_EQ(button.PictureFor(ODS_SELECTED | ODS_FOCUS | CUES), selected);
}

TEST(BitmapButtonPicture, StatesWithoutAPictureShowTheNormalOne)
{
    PictureButton button;
    ASSERT_TRUE(button.LoadBitmaps(IDB_RED));
    const CBitmap* normal = &button.m_bmpNormal;
    for (UINT state : {0u, UINT{ODS_SELECTED}, UINT{ODS_FOCUS}, UINT{ODS_DISABLED}, UINT{ODS_SELECTED | ODS_FOCUS}})
        EXPECT_EQ(button.PictureFor(state), normal) << "state 0x" << std::hex << state;

    // Only some states given: the others fall back.
    ASSERT_TRUE(button.LoadBitmaps(IDB_RED, 0, 0, IDB_YELLOW));
    EXPECT_EQ(button.PictureFor(ODS_SELECTED), normal);
    EXPECT_EQ(button.PictureFor(ODS_FOCUS), normal);
    EXPECT_EQ(button.PictureFor(ODS_DISABLED), &button.m_bmpDisabled);
}

TEST(BitmapButtonPicture, ReloadingDropsTheEarlierPictures)
{
    PictureButton button;
    ASSERT_TRUE(button.LoadBitmaps(IDB_RED, IDB_GREEN, IDB_BLUE, IDB_YELLOW));
    HBITMAP oldSelected = button.m_bmpSelected;
    HBITMAP oldNormal = button.m_bmpNormal;

    ASSERT_TRUE(button.LoadBitmaps(IDB_BLUE));
    EXPECT_EQ(button.PictureFor(ODS_SELECTED), &button.m_bmpNormal) << "an earlier selected picture stayed";
    EXPECT_EQ(::GetObjectType(oldSelected), 0u);
    EXPECT_EQ(::GetObjectType(oldNormal), 0u);
}

TEST(BitmapButtonPicture, WithoutPicturesThereIsNothingToShow)
{
    PictureButton button;  // the hidden English button gets none
    for (UINT state : {0u, UINT{ODS_SELECTED}, UINT{ODS_FOCUS}, UINT{ODS_DISABLED}})
        EXPECT_EQ(button.PictureFor(state), nullptr);

    EXPECT_FALSE(button.LoadBitmaps(IDB_NOT_THERE, IDB_GREEN));
    EXPECT_EQ(button.PictureFor(0), nullptr);
    // A state's own picture still shows for that state.
    EXPECT_EQ(button.PictureFor(ODS_SELECTED), &button.m_bmpSelected);
}

// Sends the button a WM_DRAWITEM for state over rect on canvas.
bool Draw(CBitmapButton& button, Canvas& canvas, UINT state, RECT rect)
{
    DRAWITEMSTRUCT item = {};
    item.CtlType = ODT_BUTTON;
    item.itemAction = ODA_DRAWENTIRE;
    item.itemState = state;
    item.hDC = canvas.Dc();
    item.rcItem = rect;
    LRESULT result = FALSE;
    bool handled = button.OnChildNotify(WM_DRAWITEM, 0, reinterpret_cast<LPARAM>(&item), &result);
    return handled && result == TRUE;
}

TEST(BitmapButtonDrawing, PaintsTheStatesPictureInsideTheItemRectangle)
{
    PictureButton button;
    ASSERT_TRUE(button.LoadBitmaps(IDB_RED, IDB_GREEN, IDB_BLUE, IDB_YELLOW));
    const struct {
        UINT state;
        COLORREF colour;
    } cases[] = {{0, RED}, {ODS_SELECTED | ODS_FOCUS, GREEN}, {ODS_FOCUS, BLUE}, {ODS_DISABLED, YELLOW}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "state 0x" << std::hex << c.state);
        Canvas canvas(20, 12, WHITE);
        ASSERT_TRUE(canvas.Ready());
        // Pictures are 8x6; the rectangle is larger, away from the corner.
        RECT rect = {3, 2, 15, 11};
        ASSERT_TRUE(Draw(button, canvas, c.state, rect));
        EXPECT_EQ(canvas.Count(RECT{3, 2, 11, 8}, c.colour), 8 * 6);
        EXPECT_EQ(canvas.Count(RECT{0, 0, 20, 12}, WHITE), 20 * 12 - 8 * 6) << "painted outside the picture";
    }
}

TEST(BitmapButtonDrawing, OnePictureForEveryStateIsHeldOnceAndDrawnInEach)
{
    PictureButton button;  // as the launcher gives its buttons their pictures
    ASSERT_TRUE(button.LoadBitmaps(IDB_RED, IDB_RED, IDB_RED, IDB_RED));
    EXPECT_EQ(button.m_bmpSelected.GetSafeHandle(), nullptr) << "a second copy of the picture";
    EXPECT_EQ(button.m_bmpFocus.GetSafeHandle(), nullptr) << "a second copy of the picture";
    EXPECT_EQ(button.m_bmpDisabled.GetSafeHandle(), nullptr) << "a second copy of the picture";
    for (UINT state : {0u, UINT{ODS_SELECTED}, UINT{ODS_FOCUS}, UINT{ODS_DISABLED}, UINT{ODS_SELECTED | ODS_FOCUS}}) {
        SCOPED_TRACE(::testing::Message() << "state 0x" << std::hex << state);
        Canvas canvas(8, 6, WHITE);
        ASSERT_TRUE(Draw(button, canvas, state, RECT{0, 0, 8, 6}));
        EXPECT_EQ(canvas.Count(RECT{0, 0, 8, 6}, RED), 8 * 6);
    }
}

TEST(BitmapButtonDrawing, ClipsThePictureToASmallerRectangle)
{
    PictureButton button;
    ASSERT_TRUE(button.LoadBitmaps(IDB_RED));
    Canvas canvas(20, 12, WHITE);
    RECT rect = {5, 4, 10, 7};  // 5x3, smaller than the 8x6 picture
    ASSERT_TRUE(Draw(button, canvas, 0, rect));
    EXPECT_EQ(canvas.Count(rect, RED), 5 * 3);
    EXPECT_EQ(canvas.Count(RECT{0, 0, 20, 12}, RED), 5 * 3) << "painted outside the item rectangle";
}

TEST(BitmapButtonDrawing, WithoutPicturesDrawsNothingButTakesTheMessage)
{
    PictureButton button;
    Canvas canvas(20, 12, WHITE);
    EXPECT_TRUE(Draw(button, canvas, ODS_FOCUS, RECT{0, 0, 20, 12}));
    EXPECT_EQ(canvas.Count(RECT{0, 0, 20, 12}, WHITE), 20 * 12);

    // Other messages from the parent are not the button's to take.
    LRESULT result = 0;
    EXPECT_FALSE(button.OnChildNotify(WM_MEASUREITEM, 0, 0, &result));
}

}  // namespace
