#include "ui/ResourceImage.h"

#include "framework/ScopedHandle.h"
#include "ui/JpegDecoder.h"

#include <algorithm>
#include <vector>

namespace {

// DIB rows are padded to four bytes.
UINT StrideOf(int cx)
{
    return (static_cast<UINT>(cx) * 3 + 3) & ~3u;
}

}  // namespace

ArtScale ScaleStep(int nTarget, int nSourceCount, int nTargetCount)
{
    // Sample centres meet: target t lies at (t + 0.5) * source / target - 0.5.
    ArtScale step;
    const int64_t nNumerator = (2 * int64_t(nTarget) + 1) * nSourceCount - nTargetCount;
    const int64_t nDenominator = 2 * int64_t(nTargetCount);
    if (nNumerator <= 0)
        return step;
    step.nFirst = static_cast<int>(nNumerator / nDenominator);
    if (step.nFirst >= nSourceCount - 1) {
        step.nFirst = nSourceCount - 1;
        return step;
    }
    step.nWeight = static_cast<int>((nNumerator % nDenominator) * 256 / nDenominator);
    return step;
}

CArtScaler::CArtScaler(int nSourceWidth, int nSourceHeight, int nTargetWidth, int nTargetHeight, uint8_t* pTarget,
                       size_t cbStride)
    : m_nSourceHeight(nSourceHeight),
      m_nTargetWidth(nTargetWidth),
      m_nTargetHeight(nTargetHeight),
      m_pTarget(pTarget),
      m_cbStride(cbStride),
      m_previous(static_cast<size_t>(nSourceWidth) * 3),
      m_current(static_cast<size_t>(nSourceWidth) * 3)
{
    m_columns.reserve(static_cast<size_t>(nTargetWidth));
    for (int x = 0; x < nTargetWidth; ++x)
        m_columns.push_back(ScaleStep(x, nSourceWidth, nTargetWidth));
}

void CArtScaler::AddRow(int nRow, const uint8_t* pBgr)
{
    m_previous.swap(m_current);
    std::copy(pBgr, pBgr + m_current.size(), m_current.begin());
    for (; m_nNextTarget < m_nTargetHeight; ++m_nNextTarget) {
        const ArtScale row = ScaleStep(m_nNextTarget, m_nSourceHeight, m_nTargetHeight);
        const int nLast = row.nWeight ? row.nFirst + 1 : row.nFirst;
        if (nLast > nRow)
            return;
        // The rows blended are this one and, with a weight, the one before.
        const uint8_t* pUpper = row.nWeight ? m_previous.data() : m_current.data();
        const uint8_t* pLower = m_current.data();
        uint8_t* pOut = m_pTarget + static_cast<size_t>(m_nNextTarget) * m_cbStride;
        for (int x = 0; x < m_nTargetWidth; ++x) {
            const ArtScale& column = m_columns[static_cast<size_t>(x)];
            const size_t nLeft = static_cast<size_t>(column.nFirst) * 3;
            const size_t nRight = column.nWeight ? nLeft + 3 : nLeft;
            for (int channel = 0; channel < 3; ++channel) {
                auto across = [&](const uint8_t* p) {
                    return p[nLeft + channel] * (256 - column.nWeight) + p[nRight + channel] * column.nWeight;
                };
                const int nValue = across(pUpper) * (256 - row.nWeight) + across(pLower) * row.nWeight;
                pOut[x * 3 + channel] = static_cast<uint8_t>((nValue + (1 << 15)) >> 16);
            }
        }
    }
}

HBITMAP CreateTopDownSection(int cx, int cy, WORD nBitCount, void** ppBits)
{
    *ppBits = nullptr;
    if (cx <= 0 || cy <= 0)
        return nullptr;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = cx;
    info.bmiHeader.biHeight = -cy;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = nBitCount;
    info.bmiHeader.biCompression = BI_RGB;
    HBITMAP hBitmap = ::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, ppBits, nullptr, 0);
    if (hBitmap && !*ppBits) {
        ::DeleteObject(hBitmap);
        return nullptr;
    }
    return hBitmap;
}

HBITMAP CreateArtBitmap(int cx, int cy)
{
    void* pBits = nullptr;
    return CreateTopDownSection(cx, cy, 24, &pBits);
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
    const uint8_t* pData = hData ? static_cast<const uint8_t*>(::LockResource(hData)) : nullptr;
    JpegSize size;
    if (!pData || !ReadJpegSize(pData, cbData, &size))
        return false;

    // Rows go into the section as they are decoded: only a band of the
    // image and two of its rows are held besides.
    ::GdiFlush();
    CArtScaler scaler(size.nWidth, size.nHeight, cx, cy, static_cast<uint8_t*>(dib.dsBm.bmBits), StrideOf(cx));
    return DecodeJpegRows(pData, cbData, [&scaler](int nRow, const uint8_t* pBgr) {
        scaler.AddRow(nRow, pBgr);
        return true;
    }) && scaler.Done();
}

HBITMAP LoadBitmapFromResource(WORD nId, int cx, int cy)
{
    ScopedGdiObject bitmap(CreateArtBitmap(cx, cy));
    if (!bitmap || !DrawResourceInto(nId, static_cast<HBITMAP>(bitmap.Get())))
        return nullptr;
    return static_cast<HBITMAP>(bitmap.Release());
}
