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
const Gdiplus::REAL kTextFontPoints = 9.0f;

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
            m_bmpPage.Reset(CreateArtBitmap(kClientWidth, kClientHeight));
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
    const int nSaved = ::SaveDC(hdc);
    ::ExcludeClipRect(hdc, kBarX, kBarY, kBarX + kBarWidth, kBarY + kBarHeight);
    ::BitBlt(hdc, 0, 0, cx, cy, hdcArt, 0, 0, SRCCOPY);
    ::RestoreDC(hdc, nSaved);

    const int nFillWidth = ProgressFillWidth(m_nProgress);
    HGDIOBJ hPage = ::SelectObject(hdcArt, hFill);
    ::BitBlt(hdc, kBarX, kBarY, nFillWidth, kBarHeight, hdcArt, 0, 0, SRCCOPY);
    ::SelectObject(hdcArt, hTrack);
    ::BitBlt(hdc, kBarX + nFillWidth, kBarY, kBarWidth - nFillWidth, kBarHeight, hdcArt, nFillWidth, 0, SRCCOPY);
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

void CSetupDlg::DrawReadyOverlay(Gdiplus::Graphics& graphics)
{
    Gdiplus::SolidBrush boxBrush{Gdiplus::Color(kPathBoxColor)};
    graphics.FillRectangle(&boxBrush, kPathBoxOrigin.x, kPathBoxOrigin.y, kPathBoxWidth, kPathBoxHeight);

    Gdiplus::SolidBrush pathBrush{Gdiplus::Color(kPathTextColor)};
    std::wstring strFolder = FolderText(m_settings.location.szInstallRoot);
    // Without the face the texts are left out; boxes and cover stay.
    Gdiplus::FontFamily family(kTextFontFamily, nullptr);
    Gdiplus::Font font(&family, kTextFontPoints, Gdiplus::FontStyleRegular, Gdiplus::UnitPoint);
    bool bFont = family.GetLastStatus() == Gdiplus::Ok && font.GetLastStatus() == Gdiplus::Ok;
    Gdiplus::PointF ptPathText(static_cast<Gdiplus::REAL>(kPathBoxOrigin.x + 5),
                               static_cast<Gdiplus::REAL>(kPathBoxOrigin.y + 6));
    if (bFont)
        graphics.DrawString(strFolder.c_str(), -1, &font, ptPathText, &pathBrush);

    std::wstring strSpace = DiskSpaceText(GetFreeSpaceGB(m_settings.location.szInstallRoot));
    boxBrush.SetColor(Gdiplus::Color(kSpaceBoxColor));
    graphics.FillRectangle(&boxBrush, kSpaceLineOrigin.x, kSpaceLineOrigin.y, kSpaceBoxWidth, kSpaceBoxHeight);
    boxBrush.SetColor(Gdiplus::Color(kSpaceTextColor));
    Gdiplus::PointF ptSpaceText(static_cast<Gdiplus::REAL>(kSpaceLineOrigin.x + 5),
                                static_cast<Gdiplus::REAL>(kSpaceLineOrigin.y + 5));
    if (bFont)
        graphics.DrawString(strSpace.c_str(), -1, &font, ptSpaceText, &boxBrush);

    Gdiplus::SolidBrush coverBrush{Gdiplus::Color(kLicenceCoverColor)};
    graphics.FillRectangle(&coverBrush, m_hotAreas.rcAgreeBox.left - 10, m_hotAreas.rcAgreeBox.top - 5, kLicenceCoverWidth,
                           kLicenceCoverHeight);
}
