#include "ui/ResourceImage.h"

#include <gdiplus.h>
#include <objbase.h>

#include <cstring>
#include <memory>

namespace {

// A bitmap that holds a copy of the decoded pixels and nothing else. The
// decoded image may keep its stream and its decoder's own copy of the
// pixels for as long as it lives; the copy lets both go at once.
Gdiplus::Bitmap* CopyPixels(Gdiplus::Bitmap& decoded)
{
    const UINT cx = decoded.GetWidth();
    const UINT cy = decoded.GetHeight();
    auto copy = std::make_unique<Gdiplus::Bitmap>(static_cast<INT>(cx), static_cast<INT>(cy), PixelFormat24bppRGB);
    if (copy->GetLastStatus() != Gdiplus::Ok)
        return nullptr;
    Gdiplus::Rect rc(0, 0, static_cast<INT>(cx), static_cast<INT>(cy));
    Gdiplus::BitmapData source = {};
    Gdiplus::BitmapData target = {};
    if (decoded.LockBits(&rc, Gdiplus::ImageLockModeRead, PixelFormat24bppRGB, &source) != Gdiplus::Ok)
        return nullptr;
    const bool bLocked =
        copy->LockBits(&rc, Gdiplus::ImageLockModeWrite, PixelFormat24bppRGB, &target) == Gdiplus::Ok;
    if (bLocked) {
        for (UINT y = 0; y < cy; ++y)
            std::memcpy(static_cast<BYTE*>(target.Scan0) + static_cast<ptrdiff_t>(y) * target.Stride,
                        static_cast<const BYTE*>(source.Scan0) + static_cast<ptrdiff_t>(y) * source.Stride, cx * 3);
        copy->UnlockBits(&target);
    }
    decoded.UnlockBits(&source);
    return bLocked ? copy.release() : nullptr;
}

}  // namespace

void LoadImageFromResource(WORD nId, Gdiplus::Image** ppImage)
{
    HMODULE hModule = ::GetModuleHandleW(nullptr);
    HRSRC hResource = ::FindResourceW(hModule, MAKEINTRESOURCEW(nId), L"JGP");
    if (!hResource)
        return;
    DWORD cbData = ::SizeofResource(hModule, hResource);
    HGLOBAL hData = ::LoadResource(hModule, hResource);
    const void* pData = hData ? ::LockResource(hData) : nullptr;
    if (!pData || cbData == 0)
        return;

    // The stream needs memory of its own; the image reads it until the
    // pixels have been copied out.
    HGLOBAL hBlock = ::GlobalAlloc(GMEM_FIXED, cbData);
    if (!hBlock)
        return;
    std::memcpy(reinterpret_cast<void*>(hBlock), pData, cbData);

    IStream* pStream = nullptr;
    std::unique_ptr<Gdiplus::Bitmap> decoded;
    if (SUCCEEDED(::CreateStreamOnHGlobal(hBlock, FALSE, &pStream)) && pStream) {
        decoded.reset(Gdiplus::Bitmap::FromStream(pStream, FALSE));
        pStream->Release();
    }
    Gdiplus::Image* pImage = nullptr;
    if (decoded)
        pImage = IsImageUsable(decoded.get()) ? CopyPixels(*decoded) : decoded.release();
    decoded.reset();
    ::GlobalFree(hBlock);
    if (pImage)
        *ppImage = pImage;
}

bool IsImageUsable(Gdiplus::Image* pImage)
{
    // An image that failed to decode reports no size.
    return pImage && pImage->GetWidth() > 0 && pImage->GetHeight() > 0;
}
