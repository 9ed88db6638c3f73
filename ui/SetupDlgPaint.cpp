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
    {
        Gdiplus::Graphics screen(hdc);
        RECT rc;
        ::GetClientRect(m_hWnd, &rc);
        DrawPage(screen, rc.right - rc.left, rc.bottom - rc.top);
    }
    ::EndPaint(m_hWnd, &ps);
}

Gdiplus::Image* CSetupDlg::PageImage()
{
    const WORD slides[] = {IDR_JPG_SLIDE1, IDR_JPG_SLIDE2, IDR_JPG_SLIDE3, IDR_JPG_SLIDE4};
    const WORD nId = m_nSetupState == PAGE_INSTALLING ? slides[SlideForProgress(m_nProgress) - 1] : IDR_JPG_READY;
    if (nId != m_nPageImageId) {
        delete m_pImgPage;
        m_pImgPage = nullptr;
        m_nPageImageId = nId;
        LoadImageFromResource(nId, &m_pImgPage);
    }
    return m_pImgPage;
}

// Draws the page off-screen and copies it in one operation, so repaints
// during the install do not flicker. A missing image leaves the screen as
// it was.
void CSetupDlg::DrawPage(Gdiplus::Graphics& screen, int cx, int cy)
{
    Gdiplus::Bitmap offscreen(cx, cy, PixelFormat32bppARGB);
    if (offscreen.GetLastStatus() != Gdiplus::Ok)
        return;
    Gdiplus::Graphics graphics(&offscreen);
    if (graphics.GetLastStatus() != Gdiplus::Ok)
        return;
    graphics.SetSmoothingMode(Gdiplus::SmoothingModeHighQuality);

    Gdiplus::Image* pPage = PageImage();
    if (!IsImageUsable(pPage))
        return;
    graphics.DrawImage(pPage, Gdiplus::Rect(0, 0, cx, cy), 0, 0, pPage->GetWidth(), pPage->GetHeight(),
                       Gdiplus::UnitPixel);

    if (m_nSetupState == PAGE_INSTALLING) {
        if (!DrawProgressBar(graphics))
            return;
    } else {
        DrawReadyOverlay(graphics);
    }
    screen.DrawImage(&offscreen, 0, 0, cx, cy);
}

bool CSetupDlg::DrawProgressBar(Gdiplus::Graphics& graphics)
{
    if (!IsImageUsable(m_pImgBarTrack))
        return false;
    graphics.DrawImage(m_pImgBarTrack, Gdiplus::Rect(kBarX, kBarY, kBarWidth, kBarHeight), 0, 0,
                       m_pImgBarTrack->GetWidth(), m_pImgBarTrack->GetHeight(), Gdiplus::UnitPixel);

    // Cropped, not scaled: the bar grows from the left and the fill's
    // rounded right end shows only when complete.
    int nFillWidth = ProgressFillWidth(m_nProgress);
    if (!IsImageUsable(m_pImgBarFill))
        return false;
    graphics.DrawImage(m_pImgBarFill, Gdiplus::Rect(kBarX, kBarY, nFillWidth, kBarHeight), 0, 0, nFillWidth,
                       m_pImgBarFill->GetHeight(), Gdiplus::UnitPixel);
    return true;
}

void CSetupDlg::DrawReadyOverlay(Gdiplus::Graphics& graphics)
{
    Gdiplus::SolidBrush boxBrush{Gdiplus::Color(kPathBoxColor)};
    graphics.FillRectangle(&boxBrush, m_ptPathBox.x, m_ptPathBox.y, kPathBoxWidth, kPathBoxHeight);

    Gdiplus::SolidBrush pathBrush{Gdiplus::Color(kPathTextColor)};
    std::wstring strFolder = FolderText(m_settings.location.szInstallRoot);
    // Without the face the texts are left out; boxes and cover stay.
    Gdiplus::FontFamily family(kTextFontFamily, nullptr);
    Gdiplus::Font font(&family, kTextFontPoints, Gdiplus::FontStyleRegular, Gdiplus::UnitPoint);
    bool bFont = family.GetLastStatus() == Gdiplus::Ok && font.GetLastStatus() == Gdiplus::Ok;
    Gdiplus::PointF ptPathText(static_cast<Gdiplus::REAL>(m_ptPathBox.x + 5),
                               static_cast<Gdiplus::REAL>(m_ptPathBox.y + 6));
    if (bFont)
        graphics.DrawString(strFolder.c_str(), -1, &font, ptPathText, &pathBrush);

    std::wstring strSpace = DiskSpaceText(GetFreeSpaceGB(m_settings.location.szInstallRoot));
    boxBrush.SetColor(Gdiplus::Color(kSpaceBoxColor));
    graphics.FillRectangle(&boxBrush, m_ptSpaceLine.x, m_ptSpaceLine.y, kSpaceBoxWidth, kSpaceBoxHeight);
    boxBrush.SetColor(Gdiplus::Color(kSpaceTextColor));
    Gdiplus::PointF ptSpaceText(static_cast<Gdiplus::REAL>(m_ptSpaceLine.x + 5),
                                static_cast<Gdiplus::REAL>(m_ptSpaceLine.y + 5));
    if (bFont)
        graphics.DrawString(strSpace.c_str(), -1, &font, ptSpaceText, &boxBrush);

    Gdiplus::SolidBrush coverBrush{Gdiplus::Color(kLicenceCoverColor)};
    graphics.FillRectangle(&coverBrush, m_rcAgreeBox.left - 10, m_rcAgreeBox.top - 5, kLicenceCoverWidth,
                           kLicenceCoverHeight);
}
