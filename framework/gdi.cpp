#include "gdi.h"

#include "app.h"

BOOL CBitmap::LoadBitmap(UINT resourceId)
{
    Attach(::LoadBitmapW(AfxGetResourceHandle(), MAKEINTRESOURCEW(resourceId)));
    return GetSafeHandle() != nullptr;
}

SIZE CBitmap::GetSize() const
{
    BITMAP info = {};
    if (GetSafeHandle() == nullptr || ::GetObjectW(GetSafeHandle(), sizeof info, &info) == 0)
        return SIZE{0, 0};
    return SIZE{info.bmWidth, info.bmHeight};
}

BOOL CBrush::CreatePatternBrush(const CBitmap* bitmap)
{
    Attach(::CreatePatternBrush(bitmap != nullptr ? bitmap->GetSafeHandle() : nullptr));
    return GetSafeHandle() != nullptr;
}

CPaintDC::CPaintDC(HWND window) : m_hWnd(window)
{
    m_hDC = ::BeginPaint(window, &m_ps);
}

CPaintDC::~CPaintDC()
{
    ::EndPaint(m_hWnd, &m_ps);
}

CBitmapDC::CBitmapDC(HDC compatibleWith, HBITMAP bitmap)
    : m_hDC(::CreateCompatibleDC(compatibleWith)), m_hPrevious(nullptr)
{
    if (m_hDC != nullptr)
        m_hPrevious = ::SelectObject(m_hDC, bitmap);
}

CBitmapDC::~CBitmapDC()
{
    if (m_hDC != nullptr) {
        ::SelectObject(m_hDC, m_hPrevious);
        ::DeleteDC(m_hDC);
    }
}
