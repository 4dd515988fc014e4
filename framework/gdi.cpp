#include "gdi.h"

#include "app.h"
#include "compressed_picture.h"
#include "heap.h"

namespace {

// A compressed picture (payload/compressed_picture.h) decoded and made into
// the bitmap LoadBitmap would make from the bitmap resource: a device-
// dependent bitmap compatible with the screen, its pixels set from the DIB.
// nullptr for none, or one that does not decode: then there is no picture.
HBITMAP LoadCompressedPicture(HINSTANCE module, UINT resourceId)
{
    HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(resourceId), L"" PICTURE_RESOURCE_TYPE);
    HGLOBAL loaded = found != nullptr ? ::LoadResource(module, found) : nullptr;
    const void* data = loaded != nullptr ? ::LockResource(loaded) : nullptr;
    if (data == nullptr)
        return nullptr;
    ByteView blob(static_cast<const unsigned char*>(data), ::SizeofResource(module, found));
    PictureInfo info;
    if (ReadPictureHeader(blob, &info) != PayloadError::Ok)
        return nullptr;
    HeapPtr<unsigned char> pixels = HeapBlock(info.pixelBytes);
    if (!pixels || DecodePicture(blob, info, pixels.get()) != PayloadError::Ok)
        return nullptr;
    // The header from the fields judged, not the blob's bytes cast: the
    // format holds only 24-bit BI_RGB pictures without a colour table.
    BITMAPINFO header = {};
    header.bmiHeader.biSize = sizeof header.bmiHeader;
    header.bmiHeader.biWidth = info.width;
    header.bmiHeader.biHeight = info.height;
    header.bmiHeader.biPlanes = 1;
    header.bmiHeader.biBitCount = 24;
    header.bmiHeader.biCompression = BI_RGB;
    HDC screen = ::GetDC(nullptr);
    HBITMAP bitmap = screen != nullptr ? ::CreateDIBitmap(screen, &header.bmiHeader, CBM_INIT, pixels.get(), &header,
                                                          DIB_RGB_COLORS)
                                       : nullptr;
    if (screen != nullptr)
        ::ReleaseDC(nullptr, screen);
    return bitmap;
}

}  // namespace

BOOL CBitmap::LoadBitmap(UINT resourceId)
{
    HINSTANCE module = AfxGetResourceHandle();
    HBITMAP bitmap = ::LoadBitmapW(module, MAKEINTRESOURCEW(resourceId));
    if (bitmap == nullptr)
        bitmap = LoadCompressedPicture(module, resourceId);
    Attach(bitmap);
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
