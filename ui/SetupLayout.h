#pragma once

#include "engine/InstallObserver.h"

#include <windows.h>

#include <functional>
#include <string>

// The window's pages, geometry and texts as plain values and functions, so
// tests can check them without a window. Lengths are those of the design,
// at 96 DPI; LayoutForDpi scales them to the window's DPI.

enum SetupPage : int {
    PAGE_READY = 0,
    PAGE_INSTALLING = 1,
};

// Texts of the window, the ready page and the folder browser. The window's
// text shows in the taskbar and Alt+Tab, and names it for screen readers.
constexpr wchar_t kWindowText[] = L"Fenmora";
constexpr wchar_t kRequiredSpaceText[] = L"38.7MB";
constexpr wchar_t kBrowseTitle[] = L"选择安装路径";

constexpr int kClientWidth = 530;
constexpr int kClientHeight = 360;

// Progress bar of the installing page: the track image stretched to its
// full size, the fill image cropped to the progress.
constexpr int kBarX = 0;
constexpr int kBarY = 346;
constexpr int kBarWidth = 490;
constexpr int kBarHeight = 8;

// Ready page: the box behind the install path, the box behind the
// disk-space line (both at their anchors) and the cover over the licence
// line of the artwork.
constexpr int kPathBoxWidth = 225;
constexpr int kPathBoxHeight = 23;
constexpr int kSpaceBoxWidth = 250;
constexpr int kSpaceBoxHeight = 23;
constexpr int kLicenceCoverWidth = 200;
constexpr int kLicenceCoverHeight = 25;

// The labels of the installing page and the cell height of their font.
constexpr RECT kPercentLabelRect = {490, 341, 525, 359};
constexpr RECT kStatusLabelRect = {34, 324, 494, 342};
constexpr int kLabelFontHeight = 14;

// The click areas of the artwork, in client coordinates. A rectangle holds
// its left and top edges, not its right and bottom ones.
struct HotAreas {
    RECT rcClose;
    RECT rcInstall;
    RECT rcMinimize;
    RECT rcBrowse;
    RECT rcAgreeBox;
    RECT rcAgreeLink;
};

HotAreas DefaultHotAreas();
constexpr POINT kPathBoxOrigin = {38, 270};
constexpr POINT kSpaceLineOrigin = {38, 300};

enum class ClickAction {
    None,
    Close,
    Install,
    Minimize,
    Browse,
};

// The click area of a button.
const RECT& ButtonArea(const HotAreas& areas, ClickAction button);
// Whether the page has the button: install and browse only the ready page.
bool IsButtonOnPage(ClickAction button, int nPage);
// What a release of the left button at pt does on the page.
ClickAction ClickActionAt(const HotAreas& areas, int nPage, POINT pt);
// Whether the pointer at pt is over a button of the page.
bool IsHandCursorAt(const HotAreas& areas, int nPage, POINT pt);
// Whether a press at pt drags the window: anywhere in the client area but
// on a button of the page or on the licence line.
bool IsDragAreaAt(const HotAreas& areas, int nPage, POINT pt, const RECT& rcClient);

// Columns of a fill image of nBarWidth shown at the progress (0..100):
// 49 * p / 10 on the design's bar.
int ProgressFillWidth(int nProgress, int nBarWidth = kBarWidth);
// The slide (1..4) shown at the progress; the four slides run twice.
int SlideForProgress(int nProgress);

// The install path as the ready page shows it: the root and the product
// folder name, also when the fallback folder name is in use.
std::wstring FolderText(const wchar_t* pszInstallRoot);
// "所需空间：38.7MB（当前空间12.50G）" for 12.5 GiB free.
std::wstring DiskSpaceText(double dFreeGB);

// The download line of the installing page. Below the bar the window has
// 6 pixels left, so the line takes the status label's row above it, over
// the bar's width; the status label shows only errors, and while it does
// the line is hidden.
constexpr RECT kDownloadLineRect = {kBarX, 324, kBarX + kBarWidth, 342};
// A longer package name is cut, with an ellipsis, so that the line fits
// that width in the label's font whatever the name's script.
constexpr size_t kDownloadNameUnits = 16;
// A mean rate over less time than this tells more about the connection's
// start than about the download, and is left out.
constexpr DWORD kDownloadRateMinMs = 1000;

// "core.zip 12.3 / 480.0 MB · 2.1 MB/s": the package, its bytes so far and
// in all, and the mean rate of this download; "core.zip 12.3 MB · 2.1 MB/s"
// while the total is unknown.
std::wstring DownloadLineText(const PackageDownloadState& state);

// The design's length at nDpi: n * nDpi / 96, rounded to the nearest pixel.
int ScaleForDpi(int n, UINT nDpi);
// Each edge on its own, so that rectangles that meet at 96 DPI still meet.
RECT ScaleForDpi(const RECT& rc, UINT nDpi);

// The window's geometry at a DPI: the design scaled by nDpi / 96.
struct WindowLayout {
    UINT nDpi;
    SIZE client;
    HotAreas hotAreas;
    // Ready page: the boxes behind the path and the disk-space line, where
    // their texts start, and the cover over the licence line.
    RECT rcPathBox;
    POINT ptPathText;
    RECT rcSpaceBox;
    POINT ptSpaceText;
    RECT rcLicenceCover;
    // Installing page.
    RECT rcBar;
    RECT rcPercentLabel;
    RECT rcStatusLabel;
    RECT rcDownloadLine;
    // Cell height of the labels' font, and the em of the ready page's
    // 9-point texts, in pixels.
    int nLabelFontHeight;
    float fTextEmPixels;
};
WindowLayout LayoutForDpi(UINT nDpi);

// The text as it fits nWidth pixels, widths as measure gives them: whole
// when it fits, else with an ellipsis in place of what does not. A path
// keeps its start and as much as fits of its last part, the folder the
// client goes into; a text without a backslash is cut at its end. A
// surrogate pair is kept or cut whole.
std::wstring FitText(const std::wstring& strText, int nWidth, const std::function<int(const std::wstring&)>& measure);
