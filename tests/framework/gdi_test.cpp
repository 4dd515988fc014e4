// GDI owners: each deletes its handle once, when it goes; moves hand the
// handle over; copies do not exist. Also loading, sizes and the bitmap DC.
#include <gtest/gtest.h>

#include <type_traits>
#include <utility>

#include "canvas.h"
#include "framework.h"
#include "test_ids.h"

namespace {

static_assert(!std::is_copy_constructible_v<CBitmap> && !std::is_copy_assignable_v<CBitmap>, "a bitmap is not copied");
static_assert(!std::is_copy_constructible_v<CBrush> && !std::is_copy_assignable_v<CBrush>, "a brush is not copied");
static_assert(std::is_nothrow_move_constructible_v<CBitmap> && std::is_nothrow_move_assignable_v<CBitmap>, "a bitmap moves");
static_assert(std::is_nothrow_move_constructible_v<CBrush> && std::is_nothrow_move_assignable_v<CBrush>, "a brush moves");

HBITMAP NewBitmap(int width = 8, int height = 4)
{
    return ::CreateBitmap(width, height, 1, 32, nullptr);
}

bool Alive(HGDIOBJ handle)
{
    return ::GetObjectType(handle) != 0;
}

TEST(GdiOwner, DeletesItsHandleWhenItGoes)
{
    HBITMAP bitmap = NewBitmap();
    HBRUSH brush = ::CreateSolidBrush(RGB(1, 2, 3));
    ASSERT_EQ(::GetObjectType(bitmap), static_cast<DWORD>(OBJ_BITMAP));
    ASSERT_EQ(::GetObjectType(brush), static_cast<DWORD>(OBJ_BRUSH));
    {
        CBitmap ownedBitmap;
        ownedBitmap.Attach(bitmap);
        CBrush ownedBrush;
        ownedBrush.Attach(brush);
        EXPECT_EQ(ownedBitmap.GetSafeHandle(), bitmap);
        EXPECT_TRUE(Alive(bitmap));
        EXPECT_TRUE(Alive(brush));
    }
    EXPECT_EQ(::GetObjectType(bitmap), 0u);
    EXPECT_EQ(::GetObjectType(brush), 0u);
}

TEST(GdiOwner, AttachAndDeleteObjectReleaseWhatWasHeld)
{
    HBITMAP first = NewBitmap();
    HBITMAP second = NewBitmap();
    CBitmap owner;
    owner.Attach(first);
    owner.Attach(second);
    EXPECT_FALSE(Alive(first));
    EXPECT_TRUE(Alive(second));
    EXPECT_EQ(owner.GetSafeHandle(), second);
    owner.Attach(second);  // the handle it already holds stays alive
    EXPECT_TRUE(Alive(second));
    EXPECT_EQ(owner.GetSafeHandle(), second);

    owner.DeleteObject();
    EXPECT_FALSE(Alive(second));
    EXPECT_EQ(owner.GetSafeHandle(), nullptr);
    owner.DeleteObject();  // empty: nothing to do, nothing else touched
    EXPECT_EQ(owner.GetSafeHandle(), nullptr);
}

TEST(GdiOwner, MovesHandOwnershipOver)
{
    HBITMAP handle = NewBitmap();
    CBitmap target;
    {
        CBitmap source;
        source.Attach(handle);
        CBitmap middle(std::move(source));
        EXPECT_EQ(source.GetSafeHandle(), nullptr);
        EXPECT_EQ(middle.GetSafeHandle(), handle);
        target = std::move(middle);
        EXPECT_EQ(middle.GetSafeHandle(), nullptr);
    }
    // The moved-from owners have gone without deleting it.
    EXPECT_TRUE(Alive(handle));
    EXPECT_EQ(target.GetSafeHandle(), handle);

    // Moving onto an owner deletes what it held before.
    HBITMAP replaced = target.GetSafeHandle();
    HBITMAP other = NewBitmap();
    CBitmap donor;
    donor.Attach(other);
    target = std::move(donor);
    EXPECT_FALSE(Alive(replaced));
    EXPECT_TRUE(Alive(other));

    // Moving onto itself keeps the handle.
    CBitmap& same = target;
    target = std::move(same);
    EXPECT_EQ(target.GetSafeHandle(), other);
    EXPECT_TRUE(Alive(other));

    target.DeleteObject();
    EXPECT_FALSE(Alive(other));
}

TEST(GdiObjects, BitmapLoadsFromResourcesAndReportsItsSize)
{
    CBitmap bitmap;
    EXPECT_EQ(bitmap.GetSize().cx, 0);
    EXPECT_EQ(bitmap.GetSize().cy, 0);

    ASSERT_TRUE(bitmap.LoadBitmap(IDB_GREEN));
    EXPECT_EQ(bitmap.GetSize().cx, 8);
    EXPECT_EQ(bitmap.GetSize().cy, 6);

    // Loading another picture, or a missing one, releases the one held.
    HBITMAP green = bitmap.GetSafeHandle();
    EXPECT_FALSE(bitmap.LoadBitmap(IDB_NOT_THERE));
    EXPECT_EQ(bitmap.GetSafeHandle(), nullptr);
    EXPECT_FALSE(Alive(green));
}

TEST(GdiObjects, PatternBrushPaintsThePicture)
{
    CBitmap picture;
    ASSERT_TRUE(picture.LoadBitmap(IDB_BLUE));
    CBrush brush;
    ASSERT_TRUE(brush.CreatePatternBrush(&picture));
    EXPECT_EQ(::GetObjectType(brush), static_cast<DWORD>(OBJ_BRUSH));

    Canvas canvas(20, 10, WHITE);
    ASSERT_TRUE(canvas.Ready());
    RECT all = {0, 0, 20, 10};
    ::FillRect(canvas.Dc(), &all, brush);
    EXPECT_EQ(canvas.Count(all, BLUE), 200);

    CBrush none;
    EXPECT_FALSE(none.CreatePatternBrush(nullptr));
}

TEST(GdiObjects, BitmapDcGivesTheBitmapBackWhenItGoes)
{
    CBitmap picture;
    ASSERT_TRUE(picture.LoadBitmap(IDB_RED));
    Canvas canvas(8, 6, WHITE);
    HDC borrowed = nullptr;
    {
        CBitmapDC source(canvas.Dc(), picture);
        borrowed = source.GetSafeHdc();
        ASSERT_NE(borrowed, nullptr);
        EXPECT_EQ(::GetCurrentObject(borrowed, OBJ_BITMAP), static_cast<HGDIOBJ>(picture.GetSafeHandle()));
        ::BitBlt(canvas.Dc(), 0, 0, 8, 6, borrowed, 0, 0, SRCCOPY);
    }
    EXPECT_EQ(canvas.At(3, 3), RED);
    EXPECT_EQ(::GetObjectType(borrowed), 0u) << "the memory DC is deleted";

    // Free again: it can go into another DC.
    HDC other = ::CreateCompatibleDC(nullptr);
    HGDIOBJ previous = ::SelectObject(other, picture);
    EXPECT_NE(previous, nullptr);
    ::SelectObject(other, previous);
    ::DeleteDC(other);
}

TEST(ResourceString, LoadsExactlyTheStringAskedFor)
{
    // Strings of one block sit back to back without terminators.
    CString first;
    ASSERT_TRUE(first.LoadString(IDS_FIRST));
    EXPECT_STREQ(static_cast<LPCWSTR>(first), L"First");
    CString second;
    ASSERT_TRUE(second.LoadString(IDS_SECOND));
    EXPECT_STREQ(static_cast<LPCWSTR>(second), L"Second string");

    EXPECT_FALSE(first.LoadString(IDS_NOT_THERE));
    EXPECT_TRUE(first.IsEmpty());
}

}  // namespace
