#include "ui/SetupLayout.h"

#include "system/InstallLocation.h"

#include <algorithm>
#include <cwchar>

HotAreas DefaultHotAreas()
{
    HotAreas areas;
    areas.rcClose = {500, 0, 530, 32};
    areas.rcInstall = {168, 168, 363, 215};
    areas.rcMinimize = {470, 0, 500, 32};
    areas.rcBrowse = {440, 270, 492, 298};
    areas.rcAgreeBox = {8, 334, 24, 351};
    areas.rcAgreeLink = {91, 339, 162, 350};
    return areas;
}

ClickAction ClickActionAt(const HotAreas& areas, int nPage, POINT pt)
{
    if (::PtInRect(&areas.rcClose, pt))
        return ClickAction::Close;
    if (nPage == PAGE_READY && ::PtInRect(&areas.rcInstall, pt))
        return ClickAction::Install;
    if (::PtInRect(&areas.rcMinimize, pt))
        return ClickAction::Minimize;
    if (nPage == PAGE_READY && ::PtInRect(&areas.rcBrowse, pt))
        return ClickAction::Browse;
    return ClickAction::None;
}

bool IsHandCursorAt(const HotAreas& areas, int nPage, POINT pt)
{
    if (::PtInRect(&areas.rcClose, pt) || ::PtInRect(&areas.rcMinimize, pt))
        return true;
    return nPage == PAGE_READY && (::PtInRect(&areas.rcBrowse, pt) || ::PtInRect(&areas.rcInstall, pt));
}

bool IsDragAreaAt(const HotAreas& areas, int nPage, POINT pt, const RECT& rcClient)
{
    if (::PtInRect(&areas.rcClose, pt))
        return false;
    // The install button is gone on the installing page; its area drags.
    if (nPage == PAGE_READY && ::PtInRect(&areas.rcInstall, pt))
        return false;
    // The browse area and the licence line never drag, on either page.
    for (const RECT* prc : {&areas.rcMinimize, &areas.rcAgreeBox, &areas.rcBrowse, &areas.rcAgreeLink}) {
        if (::PtInRect(prc, pt))
            return false;
    }
    return ::PtInRect(&rcClient, pt) != FALSE;
}

int ProgressFillWidth(int nProgress)
{
    // A value out of range must not crop beyond the fill image.
    nProgress = std::clamp(nProgress, 0, 100);
    return 49 * nProgress / 10;
}

int SlideForProgress(int nProgress)
{
    static const int kLastProgressOfSlide[] = {12, 25, 37, 50, 62, 75, 87};
    int nStep = 0;
    while (nStep < 7 && nProgress > kLastProgressOfSlide[nStep])
        ++nStep;
    return nStep % 4 + 1;
}

std::wstring FolderText(const wchar_t* pszInstallRoot)
{
    return std::wstring(pszInstallRoot) + kProductFolderName;
}

std::wstring DiskSpaceText(double dFreeGB)
{
    wchar_t szText[128];
    std::swprintf(szText, 128, L"所需空间：%ls（当前空间%.2fG）", kRequiredSpaceText, dFreeGB);
    return szText;
}
