#include "ui/SetupLayout.h"

#include <gtest/gtest.h>

namespace {

const char* Name(ClickAction action)
{
    switch (action) {
    case ClickAction::None:
        return "none";
    case ClickAction::Close:
        return "close";
    case ClickAction::Install:
        return "install";
    case ClickAction::Minimize:
        return "minimize";
    case ClickAction::Browse:
        return "browse";
    }
    return "?";
}

}  // namespace

TEST(Layout, ClicksOnBothPages)
{
    struct Case {
        POINT pt;
        ClickAction ready;
        ClickAction installing;
    };
    const Case cases[] = {
        // Left and top edges belong to a rectangle, right and bottom do not.
        {{499, 10}, ClickAction::Minimize, ClickAction::Minimize},
        {{500, 10}, ClickAction::Close, ClickAction::Close},
        {{529, 31}, ClickAction::Close, ClickAction::Close},
        {{500, 32}, ClickAction::None, ClickAction::None},
        {{470, 0}, ClickAction::Minimize, ClickAction::Minimize},
        {{469, 10}, ClickAction::None, ClickAction::None},
        {{168, 168}, ClickAction::Install, ClickAction::None},
        {{362, 214}, ClickAction::Install, ClickAction::None},
        {{363, 215}, ClickAction::None, ClickAction::None},
        {{363, 200}, ClickAction::None, ClickAction::None},
        {{200, 215}, ClickAction::None, ClickAction::None},
        {{167, 190}, ClickAction::None, ClickAction::None},
        {{440, 270}, ClickAction::Browse, ClickAction::None},
        {{491, 297}, ClickAction::Browse, ClickAction::None},
        {{492, 280}, ClickAction::None, ClickAction::None},
        {{450, 298}, ClickAction::None, ClickAction::None},
        // The licence line is never a button.
        {{8, 334}, ClickAction::None, ClickAction::None},
        {{100, 345}, ClickAction::None, ClickAction::None},
        {{100, 100}, ClickAction::None, ClickAction::None},
    };
    HotAreas areas = DefaultHotAreas();
    for (const Case& c : cases) {
        EXPECT_STREQ(Name(c.ready), Name(ClickActionAt(areas, PAGE_READY, c.pt))) << c.pt.x << "," << c.pt.y;
        EXPECT_STREQ(Name(c.installing), Name(ClickActionAt(areas, PAGE_INSTALLING, c.pt)))
            << c.pt.x << "," << c.pt.y;
    }
}

TEST(Layout, HandCursorOnlyOverButtonsOfThePage)
{
    struct Case {
        POINT pt;
        bool bReady;
        bool bInstalling;
    };
    const Case cases[] = {
        {{515, 10}, true, true},  {{480, 10}, true, true},   {{200, 190}, true, false},
        {{460, 285}, true, false}, {{16, 342}, false, false}, {{120, 345}, false, false},
        {{100, 100}, false, false}, {{363, 215}, false, false}, {{492, 298}, false, false},
    };
    HotAreas areas = DefaultHotAreas();
    for (const Case& c : cases) {
        EXPECT_EQ(c.bReady, IsHandCursorAt(areas, PAGE_READY, c.pt)) << c.pt.x << "," << c.pt.y;
        EXPECT_EQ(c.bInstalling, IsHandCursorAt(areas, PAGE_INSTALLING, c.pt)) << c.pt.x << "," << c.pt.y;
    }
}

TEST(Layout, DragAreaIsTheClientAreaOutsideButtonsAndLicence)
{
    struct Case {
        POINT pt;
        bool bReady;
        bool bInstalling;
    };
    const Case cases[] = {
        {{100, 100}, true, true},
        {{0, 0}, true, true},
        {{529, 359}, true, true},
        {{469, 31}, true, true},
        // The install button's area drags only once the button is gone.
        {{168, 168}, false, true},
        {{362, 214}, false, true},
        {{363, 215}, true, true},
        // Browse and the licence line never drag, on either page.
        {{440, 270}, false, false},
        {{8, 334}, false, false},
        {{23, 350}, false, false},
        {{24, 350}, true, true},
        {{91, 339}, false, false},
        {{162, 345}, true, true},
        {{500, 0}, false, false},
        {{470, 0}, false, false},
        // Outside the client area the platform decides.
        {{530, 100}, false, false},
        {{-1, 100}, false, false},
        {{100, 360}, false, false},
    };
    HotAreas areas = DefaultHotAreas();
    RECT rcClient = {0, 0, kClientWidth, kClientHeight};
    for (const Case& c : cases) {
        EXPECT_EQ(c.bReady, IsDragAreaAt(areas, PAGE_READY, c.pt, rcClient)) << c.pt.x << "," << c.pt.y;
        EXPECT_EQ(c.bInstalling, IsDragAreaAt(areas, PAGE_INSTALLING, c.pt, rcClient)) << c.pt.x << "," << c.pt.y;
    }
}

TEST(Layout, FillWidthFollowsProgress)
{
    const int cases[][2] = {{0, 0}, {1, 4}, {2, 9}, {10, 49}, {50, 245}, {95, 465},
                            {97, 475}, {99, 485}, {100, 490}, {-3, 0}, {150, 490}};
    for (const auto& c : cases)
        EXPECT_EQ(c[1], ProgressFillWidth(c[0])) << "progress " << c[0];
}

TEST(Layout, SlidesRunTwiceOverTheProgress)
{
    const int cases[][2] = {{0, 1},  {12, 1}, {13, 2}, {25, 2}, {26, 3}, {37, 3}, {38, 4}, {50, 4},
                            {51, 1}, {62, 1}, {63, 2}, {75, 2}, {76, 3}, {87, 3}, {88, 4}, {100, 4}};
    for (const auto& c : cases)
        EXPECT_EQ(c[1], SlideForProgress(c[0])) << "progress " << c[0];
}

TEST(Layout, FolderAndDiskSpaceTexts)
{
    EXPECT_EQ(L"C:\\Brivex Client", FolderText(L"C:\\"));
    EXPECT_EQ(L"D:\\Apps\\Brivex Client", FolderText(L"D:\\Apps\\"));
    EXPECT_EQ(L"所需空间：38.7MB（当前空间12.50G）", DiskSpaceText(12.5));
    EXPECT_EQ(L"所需空间：38.7MB（当前空间52.31G）", DiskSpaceText(52.314));
    EXPECT_EQ(L"所需空间：38.7MB（当前空间0.00G）", DiskSpaceText(0.0));
    EXPECT_EQ(L"所需空间：38.7MB（当前空间1.00G）", DiskSpaceText(1.0));
}

TEST(Layout, DownloadLineTexts)
{
    constexpr uint64_t kMiB = 1048576;
    constexpr uint64_t kGiB = 1024 * kMiB;
    struct Case {
        const wchar_t* pszName;
        uint64_t nReceived;
        uint64_t nTotal;
        uint64_t nResumedFrom;
        DWORD dwElapsedMs;
        const wchar_t* pszLine;
    };
    const Case cases[] = {
        {L"core.zip", 12897485, 480 * kMiB, 0, 5857, L"core.zip 12.3 / 480.0 MB · 2.1 MB/s"},
        {L"core.zip", 12897485, 0, 0, 5857, L"core.zip 12.3 MB · 2.1 MB/s"},
        // No rate until a second of the download has passed.
        {L"core.zip", 0, 480 * kMiB, 0, 0, L"core.zip 0.0 / 480.0 MB"},
        {L"core.zip", kMiB, 480 * kMiB, 0, 999, L"core.zip 1.0 / 480.0 MB"},
        {L"core.zip", kMiB, 480 * kMiB, 0, 1000, L"core.zip 1.0 / 480.0 MB · 1.0 MB/s"},
        // Only the bytes of this download count for the rate.
        {L"core.zip", 300 * kMiB, 480 * kMiB, 290 * kMiB, 10000, L"core.zip 300.0 / 480.0 MB · 1.0 MB/s"},
        {L"core.zip", 100, 0, 200, 2000, L"core.zip 0.0 MB · 0 KB/s"},
        // Slow lines in KB/s, below 1000 KB/s.
        {L"media.zip", 500 * 1024, 2 * kMiB, 0, 5000, L"media.zip 0.5 / 2.0 MB · 100 KB/s"},
        {L"media.zip", 999 * 1024, 2 * kMiB, 0, 1000, L"media.zip 1.0 / 2.0 MB · 999 KB/s"},
        {L"media.zip", 1000 * 1024, 2 * kMiB, 0, 1000, L"media.zip 1.0 / 2.0 MB · 1.0 MB/s"},
        // GB from 1000 MB of the total, or of the bytes while it is unknown.
        {L"a.zip", 0, 999 * kMiB, 0, 0, L"a.zip 0.0 / 999.0 MB"},
        {L"a.zip", 0, 1000 * kMiB, 0, 0, L"a.zip 0.00 / 0.98 GB"},
        {L"client.zip", kGiB + kGiB / 4, 4 * kGiB + kGiB / 2, 0, 100000, L"client.zip 1.25 / 4.50 GB · 12.8 MB/s"},
        {L"a.zip", 2 * kGiB, 0, 0, 0, L"a.zip 2.00 GB"},
        // Names past 16 units are cut; a surrogate pair stays whole.
        {L"abcdefghijkl.zip", 0, 0, 0, 0, L"abcdefghijkl.zip 0.0 MB"},
        {L"abcdefghijklm.zip", 0, 0, 0, 0, L"abcdefghijklm.z… 0.0 MB"},
        {L"界面资源包界面资源包界面资源包界面.zip", 0, 0, 0, 0, L"界面资源包界面资源包界面资源包… 0.0 MB"},
        {L"aaaaaaaaaaaaaa\U0001F600bb.zip", 0, 0, 0, 0, L"aaaaaaaaaaaaaa… 0.0 MB"},
    };
    for (const Case& c : cases) {
        PackageDownloadState state;
        state.strName = c.pszName;
        state.nReceived = c.nReceived;
        state.nTotal = c.nTotal;
        state.nResumedFrom = c.nResumedFrom;
        state.dwElapsedMs = c.dwElapsedMs;
        EXPECT_EQ(c.pszLine, DownloadLineText(state)) << c.pszLine;
    }
}

TEST(Layout, ScalesTheDesignWithTheDpi)
{
    struct Case {
        UINT nDpi;
        SIZE client;
        RECT rcInstall;
        RECT rcPathBox;
        RECT rcBar;
        int nLabelFontHeight;
        float fTextEmPixels;
    };
    // Each length of the design times dpi / 96, to the nearest pixel.
    const Case cases[] = {
        {96, {530, 360}, {168, 168, 363, 215}, {38, 270, 263, 293}, {0, 346, 490, 354}, 14, 12.0f},
        {120, {663, 450}, {210, 210, 454, 269}, {48, 338, 329, 366}, {0, 433, 613, 443}, 18, 15.0f},
        {144, {795, 540}, {252, 252, 545, 323}, {57, 405, 395, 440}, {0, 519, 735, 531}, 21, 18.0f},
        {192, {1060, 720}, {336, 336, 726, 430}, {76, 540, 526, 586}, {0, 692, 980, 708}, 28, 24.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.nDpi);
        const WindowLayout layout = LayoutForDpi(c.nDpi);
        EXPECT_EQ(c.client.cx, layout.client.cx);
        EXPECT_EQ(c.client.cy, layout.client.cy);
        EXPECT_TRUE(::EqualRect(&c.rcInstall, &layout.hotAreas.rcInstall));
        EXPECT_TRUE(::EqualRect(&c.rcPathBox, &layout.rcPathBox));
        EXPECT_TRUE(::EqualRect(&c.rcBar, &layout.rcBar));
        EXPECT_EQ(c.nLabelFontHeight, layout.nLabelFontHeight);
        EXPECT_FLOAT_EQ(c.fTextEmPixels, layout.fTextEmPixels);
        // Areas that meet in the design still meet, and the close button
        // still ends at the window's edge.
        EXPECT_EQ(layout.hotAreas.rcMinimize.right, layout.hotAreas.rcClose.left);
        EXPECT_EQ(layout.client.cx, layout.hotAreas.rcClose.right);
        EXPECT_EQ(layout.rcStatusLabel.bottom, layout.rcDownloadLine.bottom);
        EXPECT_EQ(layout.rcBar.right, layout.rcPercentLabel.left);
    }
}

TEST(Layout, FitTextKeepsThePathsStartAndLastPart)
{
    // Ten pixels a UTF-16 unit.
    auto measure = [](const std::wstring& str) { return static_cast<int>(str.size()) * 10; };
    struct Case {
        const wchar_t* pszText;
        int nWidth;
        const wchar_t* pszShown;
    };
    const Case cases[] = {
        {L"C:\\Brivex Client", 160, L"C:\\Brivex Client"},
        {L"C:\\Brivex Client", 150, L"\u2026\\Brivex Client"},
        {L"R:\\Program Files\\Brivex Client", 220, L"R:\\Prog\u2026\\Brivex Client"},
        {L"R:\\Program Files\\Brivex Client", 300, L"R:\\Program Files\\Brivex Client"},
        // The last part alone too wide: its end stays.
        {L"C:\\VeryLongFolderName", 80, L"\u2026derName"},
        // No path: cut at the end.
        {L"所需空间：38.7MB（当前空间52.31G）", 100, L"所需空间：38.7\u2026"},
        // A surrogate pair is not split.
        {L"\U0001F600\U0001F600\\x", 50, L"\U0001F600\u2026\\x"},
        {L"\U0001F600\U0001F600\\x", 40, L"\u2026\\x"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.pszShown, FitText(c.pszText, c.nWidth, measure)) << c.nWidth;
}
