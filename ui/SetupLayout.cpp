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

std::wstring DownloadLineText(const PackageDownloadState& state)
{
    std::wstring strLine = ShownName(state.strName) + L" " + SizesText(state.nReceived, state.nTotal);
    if (state.dwElapsedMs < kDownloadRateMinMs)
        return strLine;
    // The part a resumed download began with did not come in this time.
    uint64_t nBytes = state.nReceived > state.nResumedFrom ? state.nReceived - state.nResumedFrom : 0;
    return strLine + L" \u00B7 " + RateText(static_cast<double>(nBytes) * 1000.0 / state.dwElapsedMs);
}
