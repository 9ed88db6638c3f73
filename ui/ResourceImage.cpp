#include "ui/ResourceImage.h"

#include "framework/ScopedHandle.h"
#include "system/ScopedCom.h"

#include <wincodec.h>

namespace {

// DIB rows are padded to four bytes.
UINT StrideOf(int cx)
{
    return (static_cast<UINT>(cx) * 3 + 3) & ~3u;
}

}  // namespace

HBITMAP CreateArtBitmap(int cx, int cy)
{
    if (cx <= 0 || cy <= 0)
        return nullptr;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = cx;
    // Top-down, rows in the order the decoder writes them.
    info.bmiHeader.biHeight = -cy;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* pBits = nullptr;
    return ::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pBits, nullptr, 0);
}

bool DrawResourceInto(WORD nId, HBITMAP hBitmap)
{
    DIBSECTION dib = {};
    if (!hBitmap || ::GetObjectW(hBitmap, sizeof(dib), &dib) != sizeof(dib) || !dib.dsBm.bmBits ||
        dib.dsBm.bmBitsPixel != 24)
        return false;
    const int cx = dib.dsBm.bmWidth;
    const int cy = dib.dsBm.bmHeight;

    HMODULE hModule = ::GetModuleHandleW(nullptr);
    HRSRC hResource = ::FindResourceW(hModule, MAKEINTRESOURCEW(nId), L"JGP");
    const DWORD cbData = hResource ? ::SizeofResource(hModule, hResource) : 0;
    HGLOBAL hData = cbData ? ::LoadResource(hModule, hResource) : nullptr;
    BYTE* pData = hData ? static_cast<BYTE*>(::LockResource(hData)) : nullptr;
    if (!pData)
        return false;

    // The decoder reads the resource where it is mapped. Scaler and
    // converter hand rows on as the section asks for them.
    ScopedComPtr<IWICImagingFactory> factory;
    ScopedComPtr<IWICStream> stream;
    ScopedComPtr<IWICBitmapDecoder> decoder;
    ScopedComPtr<IWICBitmapFrameDecode> frame;
    ScopedComPtr<IWICBitmapScaler> scaler;
    ScopedComPtr<IWICFormatConverter> converter;
    UINT nWidth = 0;
    UINT nHeight = 0;
    const UINT cbStride = StrideOf(cx);
    ::GdiFlush();
    return factory.Create(CLSID_WICImagingFactory) && SUCCEEDED(factory->CreateStream(stream.Put())) &&
           SUCCEEDED(stream->InitializeFromMemory(pData, cbData)) &&
           SUCCEEDED(factory->CreateDecoderFromStream(stream.Get(), nullptr, WICDecodeMetadataCacheOnDemand,
                                                      decoder.Put())) &&
           SUCCEEDED(decoder->GetFrame(0, frame.Put())) && SUCCEEDED(frame->GetSize(&nWidth, &nHeight)) &&
           nWidth > 0 && nHeight > 0 && SUCCEEDED(factory->CreateBitmapScaler(scaler.Put())) &&
           SUCCEEDED(scaler->Initialize(frame.Get(), static_cast<UINT>(cx), static_cast<UINT>(cy),
                                        WICBitmapInterpolationModeLinear)) &&
           SUCCEEDED(factory->CreateFormatConverter(converter.Put())) &&
           SUCCEEDED(converter->Initialize(scaler.Get(), GUID_WICPixelFormat24bppBGR, WICBitmapDitherTypeNone,
                                           nullptr, 0.0, WICBitmapPaletteTypeCustom)) &&
           SUCCEEDED(converter->CopyPixels(nullptr, cbStride, cbStride * static_cast<UINT>(cy),
                                           static_cast<BYTE*>(dib.dsBm.bmBits)));
}

HBITMAP LoadBitmapFromResource(WORD nId, int cx, int cy)
{
    ScopedGdiObject bitmap(CreateArtBitmap(cx, cy));
    if (!bitmap || !DrawResourceInto(nId, static_cast<HBITMAP>(bitmap.Get())))
        return nullptr;
    return static_cast<HBITMAP>(bitmap.Release());
}
