// GDI wrappers. Owners delete what they hold and are move-only; CDC borrows.
#pragma once

#include <windows.h>

#include <utility>

// Owns one GDI object handle of type H and deletes it when it goes.
template <class H>
class CGdiOwner {
public:
    CGdiOwner() = default;
    ~CGdiOwner() { DeleteObject(); }
    CGdiOwner(const CGdiOwner&) = delete;
    CGdiOwner& operator=(const CGdiOwner&) = delete;
    CGdiOwner(CGdiOwner&& other) noexcept : m_hObject(std::exchange(other.m_hObject, nullptr)) {}
    CGdiOwner& operator=(CGdiOwner&& other) noexcept
    {
        if (this != &other) {
            DeleteObject();
            m_hObject = std::exchange(other.m_hObject, nullptr);
        }
        return *this;
    }

    operator H() const { return m_hObject; }
    H GetSafeHandle() const { return m_hObject; }

    // Takes ownership of handle, deleting what was held before.
    void Attach(H handle)
    {
        if (handle == m_hObject)
            return;  // already owned: deleting it first would leave a dead handle
        DeleteObject();
        m_hObject = handle;
    }
    void DeleteObject()
    {
        if (m_hObject != nullptr)
            ::DeleteObject(m_hObject);
        m_hObject = nullptr;
    }

private:
    H m_hObject = nullptr;
};

// An owned bitmap, loaded from the module's resources.
class CBitmap : public CGdiOwner<HBITMAP> {
public:
    // The bitmap resource, or where there is none (a compressed launcher)
    // the compressed picture of the same id, decoded into the same bitmap:
    // one compatible with the screen, as LoadBitmap makes.
    BOOL LoadBitmap(UINT resourceId);
    // The bitmap's size in pixels; 0 x 0 when empty.
    SIZE GetSize() const;
};

// An owned brush.
class CBrush : public CGdiOwner<HBRUSH> {
public:
    BOOL CreatePatternBrush(const CBitmap* bitmap);
};

// A borrowed device context: never released or deleted through this type.
class CDC {
public:
    explicit CDC(HDC hdc = nullptr) : m_hDC(hdc) {}
    HDC GetSafeHdc() const { return m_hDC; }
    BOOL DrawIcon(int x, int y, HICON icon) { return ::DrawIcon(m_hDC, x, y, icon); }

    HDC m_hDC;
};

// The device context of a WM_PAINT: BeginPaint on construction, EndPaint on destruction.
class CPaintDC : public CDC {
public:
    explicit CPaintDC(HWND window);
    ~CPaintDC();
    CPaintDC(const CPaintDC&) = delete;
    CPaintDC& operator=(const CPaintDC&) = delete;

    PAINTSTRUCT m_ps;

private:
    HWND m_hWnd;
};

// A memory DC compatible with another, holding one bitmap selected while it lives.
class CBitmapDC {
public:
    CBitmapDC(HDC compatibleWith, HBITMAP bitmap);
    ~CBitmapDC();
    CBitmapDC(const CBitmapDC&) = delete;
    CBitmapDC& operator=(const CBitmapDC&) = delete;
    HDC GetSafeHdc() const { return m_hDC; }

private:
    HDC m_hDC;
    HGDIOBJ m_hPrevious;
};
