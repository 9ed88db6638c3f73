#include "ui/ResourceImage.h"

#include <gdiplus.h>
#include <objbase.h>

#include <cstring>

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

    // GDI+ reads the stream for as long as the image lives, so the copy
    // outlives this call.
    HGLOBAL hBlock = ::GlobalAlloc(GMEM_FIXED, cbData);
    if (!hBlock)
        return;
    void* pBlock = ::GlobalLock(hBlock);
    if (!pBlock) {
        ::GlobalFree(hBlock);
        return;
    }
    std::memcpy(pBlock, pData, cbData);

    IStream* pStream = nullptr;
    Gdiplus::Image* pImage = nullptr;
    if (SUCCEEDED(::CreateStreamOnHGlobal(hBlock, FALSE, &pStream)) && pStream) {
        pImage = Gdiplus::Image::FromStream(pStream, FALSE);
        pStream->Release();
    }
    ::GlobalUnlock(hBlock);
    if (!pImage) {
        ::GlobalFree(hBlock);
        return;
    }
    *ppImage = pImage;
}

bool IsImageUsable(Gdiplus::Image* pImage)
{
    // An image that failed to decode reports no size.
    return pImage && pImage->GetWidth() > 0 && pImage->GetHeight() > 0;
}
