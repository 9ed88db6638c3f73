#include "ui/SetupLayout.h"

#include "system/InstallLocation.h"

#include <algorithm>
#include <cstdint>
#include <cwchar>

namespace {

// Sizes and rates count 1024 bytes to the KB, as Windows shows file sizes
// (and as the ready page counts its free space): the line's MB of a
// downloaded archive are the MB its file properties give.
constexpr double kKB = 1024.0;
constexpr double kMB = 1024.0 * kKB;
constexpr double kGB = 1024.0 * kMB;
// From here on sizes count in GB, so a number never needs more than five
// characters.
constexpr double kGBFrom = 1000.0 * kMB;
// Below this a rate counts in whole KB/s; "0.1 MB/s" would hide a slow
// line's changes.
constexpr double kMBPerSecondFrom = 1000.0 * kKB;

std::wstring ShownName(const std::wstring& strName)
{
    if (strName.size() <= kDownloadNameUnits)
        return strName;
    size_t nKeep = kDownloadNameUnits - 1;
    // A surrogate pair is kept or cut whole.
    if (IS_HIGH_SURROGATE(strName[nKeep - 1]))
        --nKeep;
    return strName.substr(0, nKeep) + L"\u2026";
}

// Both sizes in one unit, chosen by the total (by the bytes so far while the
// total is unknown).
std::wstring SizesText(uint64_t nReceived, uint64_t nTotal)
{
    const bool bGB = static_cast<double>(nTotal ? nTotal : nReceived) >= kGBFrom;
    const double dUnit = bGB ? kGB : kMB;
    const int nDecimals = bGB ? 2 : 1;
    const wchar_t* pszUnit = bGB ? L"GB" : L"MB";
    wchar_t szText[64];
    if (nTotal)
        std::swprintf(szText, 64, L"%.*f / %.*f %ls", nDecimals, nReceived / dUnit, nDecimals, nTotal / dUnit, pszUnit);
    else
        std::swprintf(szText, 64, L"%.*f %ls", nDecimals, nReceived / dUnit, pszUnit);
    return szText;
}

std::wstring RateText(double dBytesPerSecond)
{
    wchar_t szText[32];
    if (dBytesPerSecond < kMBPerSecondFrom)
        std::swprintf(szText, 32, L"%.0f KB/s", dBytesPerSecond / kKB);
    else
        std::swprintf(szText, 32, L"%.1f MB/s", dBytesPerSecond / kMB);
    return szText;
}

}  // namespace

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

const RECT& ButtonArea(const HotAreas& areas, ClickAction button)
{
    switch (button) {
    case ClickAction::Close:
        return areas.rcClose;
    case ClickAction::Install:
        return areas.rcInstall;
    case ClickAction::Minimize:
        return areas.rcMinimize;
    case ClickAction::Browse:
        return areas.rcBrowse;
    case ClickAction::None:
        break;
    }
    static const RECT kNowhere = {};
    return kNowhere;
}

bool IsButtonOnPage(ClickAction button, int nPage)
{
    return nPage == PAGE_READY || button == ClickAction::Close || button == ClickAction::Minimize;
}

ClickAction ClickActionAt(const HotAreas& areas, int nPage, POINT pt)
{
    for (ClickAction button : {ClickAction::Close, ClickAction::Install, ClickAction::Minimize, ClickAction::Browse}) {
        if (IsButtonOnPage(button, nPage) && ::PtInRect(&ButtonArea(areas, button), pt))
            return button;
    }
    return ClickAction::None;
}

bool IsHandCursorAt(const HotAreas& areas, int nPage, POINT pt)
{
    return ClickActionAt(areas, nPage, pt) != ClickAction::None;
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

int ProgressFillWidth(int nProgress, int nBarWidth)
{
    // A value out of range must not crop beyond the fill image.
    nProgress = std::clamp(nProgress, 0, 100);
    return nBarWidth * nProgress / 100;
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

std::wstring DownloadLineText(const PackageDownloadState& state)
{
    std::wstring strLine = ShownName(state.strName) + L" " + SizesText(state.nReceived, state.nTotal);
    if (state.dwElapsedMs < kDownloadRateMinMs)
        return strLine;
    // The part a resumed download began with did not come in this time.
    uint64_t nBytes = state.nReceived > state.nResumedFrom ? state.nReceived - state.nResumedFrom : 0;
    return strLine + L" \u00B7 " + RateText(static_cast<double>(nBytes) * 1000.0 / state.dwElapsedMs);
}

int ScaleForDpi(int n, UINT nDpi)
{
    return ::MulDiv(n, static_cast<int>(nDpi), 96);
}

RECT ScaleForDpi(const RECT& rc, UINT nDpi)
{
    return {ScaleForDpi(rc.left, nDpi), ScaleForDpi(rc.top, nDpi), ScaleForDpi(rc.right, nDpi),
            ScaleForDpi(rc.bottom, nDpi)};
}

WindowLayout LayoutForDpi(UINT nDpi)
{
    auto point = [nDpi](POINT pt) { return POINT{ScaleForDpi(pt.x, nDpi), ScaleForDpi(pt.y, nDpi)}; };
    auto box = [nDpi](POINT pt, int cx, int cy) { return ScaleForDpi(RECT{pt.x, pt.y, pt.x + cx, pt.y + cy}, nDpi); };
    const HotAreas design = DefaultHotAreas();
    WindowLayout layout;
    layout.nDpi = nDpi;
    layout.client = {ScaleForDpi(kClientWidth, nDpi), ScaleForDpi(kClientHeight, nDpi)};
    layout.hotAreas = design;
    for (RECT* prc : {&layout.hotAreas.rcClose, &layout.hotAreas.rcInstall, &layout.hotAreas.rcMinimize,
                      &layout.hotAreas.rcBrowse, &layout.hotAreas.rcAgreeBox, &layout.hotAreas.rcAgreeLink})
        *prc = ScaleForDpi(*prc, nDpi);
    layout.rcPathBox = box(kPathBoxOrigin, kPathBoxWidth, kPathBoxHeight);
    layout.ptPathText = point({kPathBoxOrigin.x + 5, kPathBoxOrigin.y + 6});
    layout.rcSpaceBox = box(kSpaceLineOrigin, kSpaceBoxWidth, kSpaceBoxHeight);
    layout.ptSpaceText = point({kSpaceLineOrigin.x + 5, kSpaceLineOrigin.y + 5});
    layout.rcLicenceCover =
        box({design.rcAgreeBox.left - 10, design.rcAgreeBox.top - 5}, kLicenceCoverWidth, kLicenceCoverHeight);
    layout.rcBar = box({kBarX, kBarY}, kBarWidth, kBarHeight);
    layout.rcPercentLabel = ScaleForDpi(kPercentLabelRect, nDpi);
    layout.rcStatusLabel = ScaleForDpi(kStatusLabelRect, nDpi);
    layout.rcDownloadLine = ScaleForDpi(kDownloadLineRect, nDpi);
    layout.nLabelFontHeight = ScaleForDpi(kLabelFontHeight, nDpi);
    // 9 points, a point being 1/72 inch.
    layout.fTextEmPixels = 9.0f * static_cast<float>(nDpi) / 72.0f;
    return layout;
}

std::wstring FitText(const std::wstring& strText, int nWidth, const std::function<int(const std::wstring&)>& measure)
{
    if (measure(strText) <= nWidth)
        return strText;
    constexpr wchar_t kEllipsis[] = L"\u2026";
    // The path's last part, from its backslash on; nothing without one.
    const size_t nTail = std::min(strText.rfind(L'\\'), strText.size());
    const std::wstring strTail = strText.substr(nTail);
    auto head = [&](size_t n) {
        if (n > 0 && IS_HIGH_SURROGATE(strText[n - 1]))
            --n;
        return strText.substr(0, n) + kEllipsis + strTail;
    };
    auto end = [&](size_t n) {
        size_t nFrom = strTail.size() - n;
        if (nFrom < strTail.size() && IS_LOW_SURROGATE(strTail[nFrom]))
            ++nFrom;
        return kEllipsis + strTail.substr(nFrom);
    };
    // The longest that fits, by halving: a longer cut is never narrower.
    auto longest = [&](size_t nMost, const std::function<std::wstring(size_t)>& cut) {
        size_t nLow = 0;
        while (nLow < nMost) {
            const size_t nMid = (nLow + nMost + 1) / 2;
            if (measure(cut(nMid)) <= nWidth)
                nLow = nMid;
            else
                nMost = nMid - 1;
        }
        return cut(nLow);
    };
    if (measure(head(0)) <= nWidth)
        return longest(nTail, head);
    // The last part alone is too wide: its end stays.
    return longest(strTail.size(), end);
}
