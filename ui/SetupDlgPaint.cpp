#include "ui/SetupDlg.h"

#include "resources/resource.h"
#include "system/InstallLocation.h"
#include "ui/ResourceImage.h"

#include <gdiplus.h>

#include <string>

namespace {

const Gdiplus::ARGB kPathBoxColor = 0xFFFFFFFF;
const Gdiplus::ARGB kPathTextColor = 0xFF343434;
const Gdiplus::ARGB kSpaceBoxColor = 0xFFE3E3E3;
const Gdiplus::ARGB kSpaceTextColor = 0xFF333333;
const Gdiplus::ARGB kLicenceCoverColor = 0xFFE3E3E3;
const wchar_t kTextFontFamily[] = L"宋体";

Gdiplus::Color SystemColor(int nIndex)
{
    const COLORREF cr = ::GetSysColor(nIndex);
    return Gdiplus::Color(GetRValue(cr), GetGValue(cr), GetBValue(cr));
}

Gdiplus::Rect GdiplusRect(const RECT& rc)
{
    return Gdiplus::Rect(rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top);
}

}  // namespace

void CSetupDlg::OnPaint()
{
    PAINTSTRUCT ps;
    HDC hdc = ::BeginPaint(m_hWnd, &ps);
    RECT rc;
    ::GetClientRect(m_hWnd, &rc);
    DrawPage(hdc, rc.right - rc.left, rc.bottom - rc.top);
    ::EndPaint(m_hWnd, &ps);
}

HBITMAP CSetupDlg::PageBitmap()
{
    const WORD slides[] = {IDR_JPG_SLIDE1, IDR_JPG_SLIDE2, IDR_JPG_SLIDE3, IDR_JPG_SLIDE4};
    const WORD nId = m_nSetupState == PAGE_INSTALLING ? slides[SlideForProgress(m_nProgress) - 1] : IDR_JPG_READY;
    if (nId != m_nPageImageId) {
        m_nPageImageId = nId;
        // The next page's artwork is decoded over the last one's.
        if (!m_bmpPage)
            m_bmpPage.Reset(CreateArtBitmap(m_layout.client.cx, m_layout.client.cy));
        if (m_bmpPage && !DrawResourceInto(nId, static_cast<HBITMAP>(m_bmpPage.Get())))
            m_bmpPage.Reset();
    }
    return static_cast<HBITMAP>(m_bmpPage.Get());
}

// A missing bitmap leaves the screen as it was.
void CSetupDlg::DrawPage(HDC hdc, int cx, int cy)
{
    HBITMAP hPage = PageBitmap();
    if (!hPage)
        return;
    HDC hdcArt = ::CreateCompatibleDC(hdc);
    if (!hdcArt)
        return;
    HGDIOBJ hOld = ::SelectObject(hdcArt, hPage);
    if (m_nSetupState == PAGE_INSTALLING)
        DrawInstallingPage(hdc, hdcArt, cx, cy);
    else
        DrawReadyPage(hdc, hdcArt, cx, cy);
    ::SelectObject(hdcArt, hOld);
    ::DeleteDC(hdcArt);
}

// Straight to the screen, each pixel once, so repaints during the install
// neither flicker nor need a copy of the page: the page around the bar,
// then the fill cropped to the progress and the track after it.
void CSetupDlg::DrawInstallingPage(HDC hdc, HDC hdcArt, int cx, int cy)
{
    HGDIOBJ hTrack = m_bmpBarTrack.Get();
    HGDIOBJ hFill = m_bmpBarFill.Get();
    if (!hTrack || !hFill)
        return;
    const RECT& rcBar = m_layout.rcBar;
    const int nSaved = ::SaveDC(hdc);
    ::ExcludeClipRect(hdc, rcBar.left, rcBar.top, rcBar.right, rcBar.bottom);
    ::BitBlt(hdc, 0, 0, cx, cy, hdcArt, 0, 0, SRCCOPY);
    ::RestoreDC(hdc, nSaved);

    const int cxBar = rcBar.right - rcBar.left;
    const int cyBar = rcBar.bottom - rcBar.top;
    const int nFillWidth = ProgressFillWidth(m_nProgress, cxBar);
    HGDIOBJ hPage = ::SelectObject(hdcArt, hFill);
    ::BitBlt(hdc, rcBar.left, rcBar.top, nFillWidth, cyBar, hdcArt, 0, 0, SRCCOPY);
    ::SelectObject(hdcArt, hTrack);
    ::BitBlt(hdc, rcBar.left + nFillWidth, rcBar.top, cxBar - nFillWidth, cyBar, hdcArt, nFillWidth, 0, SRCCOPY);
    ::SelectObject(hdcArt, hPage);
}

// The ready page is composed off-screen, since its boxes and texts lie
// over the artwork, and copied in one operation.
void CSetupDlg::DrawReadyPage(HDC hdc, HDC hdcArt, int cx, int cy)
{
    void* pBits = nullptr;
    ScopedGdiObject offscreen(CreateTopDownSection(cx, cy, 32, &pBits));
    HDC hdcOffscreen = offscreen ? ::CreateCompatibleDC(hdc) : nullptr;
    if (!hdcOffscreen)
        return;
    HGDIOBJ hOld = ::SelectObject(hdcOffscreen, offscreen.Get());
    ::BitBlt(hdcOffscreen, 0, 0, cx, cy, hdcArt, 0, 0, SRCCOPY);
    ::GdiFlush();
    bool bDrawn = false;
    {
        // GDI+ draws into the section's own pixels.
        Gdiplus::Bitmap canvas(cx, cy, cx * 4, PixelFormat32bppRGB, static_cast<BYTE*>(pBits));
        Gdiplus::Graphics graphics(&canvas);
        if (graphics.GetLastStatus() == Gdiplus::Ok) {
            graphics.SetSmoothingMode(Gdiplus::SmoothingModeHighQuality);
            DrawReadyOverlay(graphics);
            graphics.Flush(Gdiplus::FlushIntentionSync);
            bDrawn = true;
        }
    }
    if (bDrawn)
        ::BitBlt(hdc, 0, 0, cx, cy, hdcOffscreen, 0, 0, SRCCOPY);
    ::SelectObject(hdcOffscreen, hOld);
    ::DeleteDC(hdcOffscreen);
}

// Each text is fitted to its box and drawn clipped to it: at any DPI and
// for any path, nothing runs past the box.
void CSetupDlg::DrawReadyOverlay(Gdiplus::Graphics& graphics)
{
    // With high contrast on, the texts take the system's colours.
    const Gdiplus::Color textColor = SystemColor(COLOR_WINDOWTEXT);
    const Gdiplus::Color boxColor = SystemColor(COLOR_WINDOW);
    Gdiplus::SolidBrush boxBrush{m_bHighContrast ? boxColor : Gdiplus::Color(kPathBoxColor)};
    const Gdiplus::Rect rcPathBox = GdiplusRect(m_layout.rcPathBox);
    graphics.FillRectangle(&boxBrush, rcPathBox);

    // Without the face the texts are left out; boxes and cover stay.
    Gdiplus::FontFamily family(kTextFontFamily, nullptr);
    Gdiplus::Font font(&family, m_layout.fTextEmPixels, Gdiplus::FontStyleRegular, Gdiplus::UnitPixel);
    const bool bFont = family.GetLastStatus() == Gdiplus::Ok && font.GetLastStatus() == Gdiplus::Ok;
    auto drawText = [&](const std::wstring& strText, POINT ptText, const Gdiplus::Rect& rcBox,
                        const Gdiplus::Brush& brush) {
        if (!bFont)
            return;
        const Gdiplus::PointF ptOrigin(static_cast<Gdiplus::REAL>(ptText.x), static_cast<Gdiplus::REAL>(ptText.y));
        auto measure = [&](const std::wstring& str) {
            Gdiplus::RectF bounds;
            graphics.MeasureString(str.c_str(), -1, &font, ptOrigin, &bounds);
            return static_cast<int>(bounds.Width + 0.999f);
        };
        const std::wstring strShown = FitText(strText, rcBox.GetRight() - ptText.x, measure);
        graphics.SetClip(rcBox);
        graphics.DrawString(strShown.c_str(), -1, &font, ptOrigin, &brush);
        graphics.ResetClip();
    };
    Gdiplus::SolidBrush pathBrush{m_bHighContrast ? textColor : Gdiplus::Color(kPathTextColor)};
    drawText(FolderText(m_settings.location.szInstallRoot), m_layout.ptPathText, rcPathBox, pathBrush);

    const Gdiplus::Rect rcSpaceBox = GdiplusRect(m_layout.rcSpaceBox);
    boxBrush.SetColor(m_bHighContrast ? boxColor : Gdiplus::Color(kSpaceBoxColor));
    graphics.FillRectangle(&boxBrush, rcSpaceBox);
    boxBrush.SetColor(m_bHighContrast ? textColor : Gdiplus::Color(kSpaceTextColor));
    drawText(DiskSpaceText(GetFreeSpaceGB(m_settings.location.szInstallRoot)), m_layout.ptSpaceText, rcSpaceBox,
             boxBrush);

    Gdiplus::SolidBrush coverBrush{Gdiplus::Color(kLicenceCoverColor)};
    graphics.FillRectangle(&coverBrush, GdiplusRect(m_layout.rcLicenceCover));
}
