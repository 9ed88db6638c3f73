#include "resources/resource.h"
#include "tests/support/AccessibleName.h"
#include "tests/support/TempDir.h"
#include "tests/ui/WindowDriver.h"
#include "ui/ResourceImage.h"
#include "ui/UiMessages.h"

#include <gtest/gtest.h>

#include <gdiplus.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace {

constexpr uint32_t kWhite = 0xFFFFFF;
constexpr uint32_t kLowerGrey = 0xE3E3E3;
constexpr int kBarProbeY = 350;

// The artwork as the window draws its page, for comparing.
Screenshot RenderLikeTheWindow(WORD nId, SIZE size = {kClientWidth, kClientHeight})
{
    HBITMAP hBitmap = LoadBitmapFromResource(nId, size.cx, size.cy);
    Screenshot expected = ShotOfBitmap(hBitmap);
    if (hBitmap)
        ::DeleteObject(hBitmap);
    return expected;
}

// Mean difference per channel over a grid of the artwork's upper part,
// away from the boxes, labels and bar the window draws over it.
int MeanDifference(const Screenshot& a, const Screenshot& b)
{
    long long nSum = 0;
    int nSamples = 0;
    for (int y = 36; y < 260; y += 7) {
        for (int x = 3; x < kClientWidth; x += 7) {
            uint32_t pa = a.At(x, y);
            uint32_t pb = b.At(x, y);
            nSum += std::abs(Red(pa) - Red(pb)) + std::abs(Green(pa) - Green(pb)) + std::abs(Blue(pa) - Blue(pb));
            nSamples += 3;
        }
    }
    return static_cast<int>(nSum / nSamples);
}

// Which of the four slides the screenshot shows (1..4), 0 when none is close.
int ShownSlide(const Screenshot& shot)
{
    static const WORD kSlideIds[] = {IDR_JPG_SLIDE1, IDR_JPG_SLIDE2, IDR_JPG_SLIDE3, IDR_JPG_SLIDE4};
    static std::array<Screenshot, 4> slides;
    int nBest = 0;
    int nBestDifference = 8;
    for (int i = 0; i < 4; ++i) {
        if (slides[i].cx == 0)
            slides[i] = RenderLikeTheWindow(kSlideIds[i]);
        int nDifference = MeanDifference(shot, slides[i]);
        if (nDifference < nBestDifference) {
            nBest = i + 1;
            nBestDifference = nDifference;
        }
    }
    return nBest;
}

RECT WindowRect(HWND hWnd)
{
    RECT rc;
    ::GetWindowRect(hWnd, &rc);
    return rc;
}

RECT ChildRect(HWND hParent, HWND hChild)
{
    RECT rc;
    ::GetWindowRect(hChild, &rc);
    ::MapWindowPoints(nullptr, hParent, reinterpret_cast<POINT*>(&rc), 2);
    return rc;
}

int CountRed(const Screenshot& shot, const RECT& rc)
{
    int nCount = 0;
    for (int y = rc.top; y < rc.bottom; ++y) {
        for (int x = rc.left; x < rc.right; ++x) {
            uint32_t px = shot.At(x, y);
            if (Red(px) > 150 && Green(px) < 100 && Blue(px) < 100)
                ++nCount;
        }
    }
    return nCount;
}

int CountDifferent(const Screenshot& a, const Screenshot& b, const RECT& rc)
{
    int nCount = 0;
    for (int y = rc.top; y < rc.bottom; ++y) {
        for (int x = rc.left; x < rc.right; ++x)
            nCount += a.At(x, y) != b.At(x, y) ? 1 : 0;
    }
    return nCount;
}

// 12.3 of 480.0 MB after 5.857 s: 2.1 MB/s.
PackageDownloadState CoreDownload()
{
    PackageDownloadState state;
    state.strName = L"core.zip";
    state.nReceived = 12897485;
    state.nTotal = 480ull * 1048576;
    state.dwElapsedMs = 5857;
    return state;
}

// The artwork's buttons as controls, in tab order, with their click areas.
struct ButtonCase {
    int nId;
    const wchar_t* pszName;
    RECT rcArea;
};
const ButtonCase kButtons[] = {
    {IDC_INSTALL_BUTTON, L"立即安装", {168, 168, 363, 215}},
    {IDC_BROWSE_BUTTON, L"浏览", {440, 270, 492, 298}},
    {IDC_MINIMIZE_BUTTON, L"最小化", {470, 0, 500, 32}},
    {IDC_CLOSE_BUTTON, L"关闭", {500, 0, 530, 32}},
};

HWND FocusOf(const CWindowUnderTest& window)
{
    GUITHREADINFO info = {sizeof(info)};
    ::GetGUIThreadInfo(window.ThreadId(), &info);
    return info.hwndFocus;
}

// Alerts raised by windows of this process, as a screen reader hears them.
class CAlertWatch {
public:
    CAlertWatch()
    {
        s_pWatch = this;
        m_hHook = ::SetWinEventHook(EVENT_SYSTEM_ALERT, EVENT_SYSTEM_ALERT, nullptr, &CAlertWatch::OnEvent,
                                    ::GetCurrentProcessId(), 0, WINEVENT_OUTOFCONTEXT);
    }
    ~CAlertWatch()
    {
        if (m_hHook)
            ::UnhookWinEvent(m_hHook);
        s_pWatch = nullptr;
    }
    // Runs this thread's messages, which deliver the events, until one
    // comes from hWnd or the time is up.
    bool WaitFor(HWND hWnd)
    {
        return ::WaitFor([&] {
            MSG msg;
            while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
                ::DispatchMessageW(&msg);
            return m_hAlerted == hWnd;
        });
    }

private:
    static void CALLBACK OnEvent(HWINEVENTHOOK, DWORD, HWND hWnd, LONG, LONG, DWORD, DWORD)
    {
        if (s_pWatch)
            s_pWatch->m_hAlerted = hWnd;
    }

    static CAlertWatch* s_pWatch;
    HWINEVENTHOOK m_hHook = nullptr;
    HWND m_hAlerted = nullptr;
};
CAlertWatch* CAlertWatch::s_pWatch = nullptr;

bool IsHandCursorOnUiThread(CWindowUnderTest& window)
{
    HCURSOR hCursor = nullptr;
    window.Dlg().RunOnUiThread([&hCursor] { hCursor = ::GetCursor(); });
    return hCursor && hCursor == window.Dlg().m_hHandCursor;
}

}  // namespace

TEST(Window, OpensCentredWithoutCaptionWithHiddenLabels)
{
    CWindowUnderTest window;
    ASSERT_TRUE(window.Opened());
    HWND hWnd = window.Hwnd();
    CTestSetupDlg& dlg = window.Dlg();

    RECT rc = WindowRect(hWnd);
    RECT rcWork;
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &rcWork, 0);
    EXPECT_EQ(kClientWidth, rc.right - rc.left);
    EXPECT_EQ(kClientHeight, rc.bottom - rc.top);
    EXPECT_NEAR((rcWork.left + rcWork.right - kClientWidth) / 2, rc.left, 1);
    EXPECT_NEAR((rcWork.top + rcWork.bottom - kClientHeight) / 2, rc.top, 1);
    RECT rcClient;
    ::GetClientRect(hWnd, &rcClient);
    EXPECT_EQ(kClientWidth, rcClient.right);
    EXPECT_EQ(kClientHeight, rcClient.bottom);

    LONG nStyle = ::GetWindowLongW(hWnd, GWL_STYLE);
    EXPECT_TRUE(nStyle & WS_POPUP);
    EXPECT_FALSE(nStyle & WS_CAPTION);
    EXPECT_TRUE(::GetWindowLongW(hWnd, GWL_EXSTYLE) & WS_EX_APPWINDOW);
    ASSERT_NE(nullptr, dlg.m_hIcon);
    EXPECT_EQ(reinterpret_cast<LRESULT>(dlg.m_hIcon), ::SendMessageW(hWnd, WM_GETICON, ICON_BIG, 0));
    EXPECT_EQ(reinterpret_cast<LRESULT>(dlg.m_hIcon), ::SendMessageW(hWnd, WM_GETICON, ICON_SMALL, 0));
    EXPECT_EQ(reinterpret_cast<LRESULT>(dlg.m_hIcon), ::SendMessageW(hWnd, WM_QUERYDRAGICON, 0, 0));

    LOGFONTW lf = {};
    ASSERT_EQ(static_cast<int>(sizeof(lf)), ::GetObjectW(dlg.m_font.Get(), sizeof(lf), &lf));
    EXPECT_EQ(14, lf.lfHeight);
    EXPECT_EQ(FW_NORMAL, lf.lfWeight);
    EXPECT_EQ(DEFAULT_CHARSET, lf.lfCharSet);
    EXPECT_STREQ(L"宋体", lf.lfFaceName);

    struct Label {
        int nId;
        LONG nAlign;
        RECT rc;
        const wchar_t* pszText;
    };
    const Label labels[] = {
        {IDC_PERCENT_LABEL, SS_RIGHT, {490, 341, 525, 359}, L"0%"},
        {IDC_STATUS_LABEL, SS_CENTER, {34, 324, 494, 342}, L""},
        {IDC_DOWNLOAD_LABEL, SS_CENTER, {0, 324, 490, 342}, L""},
    };
    for (const Label& label : labels) {
        HWND hLabel = ::GetDlgItem(hWnd, label.nId);
        ASSERT_NE(nullptr, hLabel) << label.nId;
        EXPECT_FALSE(::IsWindowVisible(hLabel));
        EXPECT_EQ(label.nAlign, ::GetWindowLongW(hLabel, GWL_STYLE) & SS_TYPEMASK);
        RECT rcLabel = ChildRect(hWnd, hLabel);
        EXPECT_TRUE(::EqualRect(&label.rc, &rcLabel)) << label.nId;
        EXPECT_EQ(label.pszText, WindowText(hLabel));
        EXPECT_EQ(reinterpret_cast<LRESULT>(dlg.m_font.Get()), ::SendMessageW(hLabel, WM_GETFONT, 0, 0));
    }

    // Of the page artwork only the ready page's is decoded yet.
    EXPECT_EQ(IDR_JPG_READY, dlg.m_nPageImageId);
    for (const ScopedGdiObject* pBitmap : {&dlg.m_bmpPage, &dlg.m_bmpBarTrack, &dlg.m_bmpBarFill})
        EXPECT_TRUE(*pBitmap);
    EXPECT_EQ(RGB(51, 47, 46), dlg.m_staticPercent.GetTextColor());
}

TEST(Window, ReadyPageShowsFolderAndDiskSpaceOverTheArtwork)
{
    CWindowUnderTest window;
    ASSERT_TRUE(window.Opened());
    Screenshot shot = window.Capture();
    shot.Save(L"ready");

    // The artwork, drawn 1:1; each button paints exactly its slice, and the
    // focused install button shows no cue before the keyboard is used.
    Screenshot art = RenderLikeTheWindow(IDR_JPG_READY);
    EXPECT_LE(MeanDifference(shot, art), 2);
    for (const ButtonCase& button : kButtons)
        EXPECT_EQ(0, CountDifferent(shot, art, button.rcArea)) << Narrow(button.pszName);

    // White path box with the folder text, grey disk-space box with its line.
    EXPECT_TRUE(IsColor(shot.At(38, 270), kWhite));
    EXPECT_TRUE(IsColor(shot.At(262, 292), kWhite));
    EXPECT_GT(shot.CountDark({43, 274, 263, 293}), 40) << "folder text";
    EXPECT_TRUE(IsColor(shot.At(38, 300), kLowerGrey));
    EXPECT_TRUE(IsColor(shot.At(287, 322), kLowerGrey));
    EXPECT_GT(shot.CountDark({43, 303, 288, 322}), 80) << "disk-space line";
    EXPECT_EQ(L"C:\\", std::wstring(window.Dlg().m_settings.location.szInstallRoot));

    // The licence line of the artwork is covered.
    for (POINT pt : {POINT{0, 329}, POINT{15, 342}, POINT{120, 344}, POINT{197, 353}})
        EXPECT_TRUE(IsColor(shot.At(pt.x, pt.y), kLowerGrey, 0)) << pt.x << "," << pt.y;
    EXPECT_EQ(0, shot.CountDark({0, 329, 198, 354}));
}

// The path ends in an ellipsis within its box, clear of the browse button.
TEST(Window, LongInstallRootStaysInsideItsBox)
{
    CWindowUnderTest window;
    ASSERT_TRUE(window.Opened());
    CTestSetupDlg& dlg = window.Dlg();
    HWND hWnd = window.Hwnd();
    bool bSettled = false;
    dlg.RunOnUiThread([&] {
        bSettled = dlg.SettleBrowsedLocation(L"R:\\Program Files Extended Collection\\Applications");
        ::InvalidateRect(hWnd, nullptr, TRUE);
    });
    ASSERT_TRUE(bSettled);
    Screenshot shot = window.Capture();
    shot.Save(L"ready-long-root");
    EXPECT_GT(shot.CountDark({43, 274, 263, 293}), 40);
    EXPECT_EQ(0, CountDifferent(shot, RenderLikeTheWindow(IDR_JPG_READY), {263, 270, kClientWidth, 298}));
    EXPECT_GT(shot.CountDark({43, 303, 288, 322}), 80);
}

TEST(Window, InstallingPageFollowsProgress)
{
    CWindowUnderTest window;
    ASSERT_TRUE(window.Opened());
    HWND hPercent = ::GetDlgItem(window.Hwnd(), IDC_PERCENT_LABEL);
    window.EnterInstallingPage();
    EXPECT_TRUE(::IsWindowVisible(hPercent));
    EXPECT_EQ(L"0%", WindowText(hPercent)) << "before the first progress message";

    struct Case {
        int nProgress;
        int nSlide;
        int nFillWidth;
    };
    const Case cases[] = {{0, 1, 0},      {12, 1, 58},    {13, 2, 63},    {50, 4, 245},  {51, 1, 249},
                          {87, 3, 426},   {88, 4, 431},   {97, 4, 475},   {100, 4, 490}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.nProgress);
        EXPECT_EQ(1, window.SendProgress(c.nProgress));
        Screenshot shot = window.Capture();
        shot.Save(L"installing-" + std::to_wstring(c.nProgress));
        EXPECT_EQ(c.nSlide, ShownSlide(shot));

        // The fill covers exactly its columns; the rounded left end is
        // partly transparent, the track shows right of the fill.
        int nRed = 0;
        for (int x = 0; x < kBarWidth; ++x)
            nRed += IsFillRed(shot.At(x, kBarProbeY)) ? 1 : 0;
        EXPECT_NEAR(c.nFillWidth, nRed, 1);
        if (c.nFillWidth > 4) {
            EXPECT_TRUE(IsFillRed(shot.At(c.nFillWidth - 2, kBarProbeY)));
        }
        if (c.nFillWidth < kBarWidth) {
            uint32_t px = shot.At(c.nFillWidth + 1, kBarProbeY);
            EXPECT_FALSE(IsFillRed(px));
            EXPECT_GT(Green(px), 200) << "track";
        }
        wchar_t szPercent[8];
        std::swprintf(szPercent, 8, L"%d%%", c.nProgress);
        EXPECT_EQ(szPercent, WindowText(hPercent));
    }
}

TEST(Window, ProgressMessageTakesAnyParametersAndReturnsOne)
{
    CWindowUnderTest window;
    ASSERT_TRUE(window.Opened());
    window.Dlg().m_nProgress = 42;
    EXPECT_EQ(1, ::SendMessageW(window.Hwnd(), WM_INSTALL_PROGRESS, 5, 7));
    EXPECT_EQ(L"42%", WindowText(::GetDlgItem(window.Hwnd(), IDC_PERCENT_LABEL)));
}

TEST(Window, MissingPageImageLeavesTheScreenAsItWas)
{
    CWindowUnderTest window;
    ASSERT_TRUE(window.Opened());
    CTestSetupDlg& dlg = window.Dlg();
    window.EnterInstallingPage();
    window.SendProgress(12);
    Screenshot before = window.Capture();
    ASSERT_EQ(1, ShownSlide(before));
    // Slide 2 as it is when its resource did not decode.
    dlg.RunOnUiThread([&dlg] {
        dlg.m_bmpPage.Reset();
        dlg.m_nPageImageId = IDR_JPG_SLIDE2;
    });
    window.SendProgress(13);
    Screenshot after = window.Capture();
    EXPECT_EQ(1, ShownSlide(after));
    EXPECT_FALSE(IsFillRed(after.At(60, kBarProbeY))) << "the bar of 12 percent stays";
}

TEST(Window, StatusLabelThroughTheObserver)
{
    CWindowUnderTest window;
    ASSERT_TRUE(window.Opened());
    CTestSetupDlg& dlg = window.Dlg();
    window.EnterInstallingPage();
    HWND hStatus = ::GetDlgItem(window.Hwnd(), IDC_STATUS_LABEL);

    // From a thread of its own, as the install run calls it.
    std::thread([&dlg] { dlg.OnPackageStarted(L"base.zip"); }).join();
    ASSERT_TRUE(WaitFor([&] { return WindowText(hStatus) == L"正在安装base.zip ......"; }));
    EXPECT_FALSE(::IsWindowVisible(hStatus)) << "a status text alone stays hidden";

    // A screen reader hears the error when it shows: the label raises an
    // alert.
    CAlertWatch alerts;
    std::thread([&dlg] { dlg.OnError({InstallError::kPackageDownload, L"base.zip"}); }).join();
    ASSERT_TRUE(WaitFor([&] { return ::IsWindowVisible(hStatus) && WindowText(hStatus) == L"下载base.zip失败"; }));
    EXPECT_TRUE(alerts.WaitFor(hStatus));
    Screenshot shot = window.Capture();
    shot.Save(L"installing-error");
    EXPECT_GT(CountRed(shot, {34, 324, 494, 342}), 30);
    EXPECT_TRUE(IsColor(shot.At(35, 325), kWhite));
    EXPECT_TRUE(IsColor(shot.At(492, 340), kWhite));

    // Once red, later texts are red too.
    std::thread([&dlg] { dlg.OnPackageStarted(L"core.zip"); }).join();
    ASSERT_TRUE(WaitFor([&] { return WindowText(hStatus) == L"正在安装core.zip ......"; }));
    EXPECT_GT(CountRed(window.Capture(), {34, 324, 494, 342}), 30);
}

TEST(Window, DownloadLineThroughTheObserver)
{
    CWindowUnderTest window;
    ASSERT_TRUE(window.Opened());
    CTestSetupDlg& dlg = window.Dlg();
    HWND hLine = ::GetDlgItem(window.Hwnd(), IDC_DOWNLOAD_LABEL);
    HWND hPercent = ::GetDlgItem(window.Hwnd(), IDC_PERCENT_LABEL);
    const RECT rcLine = {0, 324, 490, 342};
    const RECT rcBar = {0, 346, 490, 354};
    const RECT rcPercent = {490, 341, 525, 359};
    window.EnterInstallingPage();
    window.SendProgress(50);
    Screenshot before = window.Capture();
    ASSERT_EQ(0, before.CountDark(rcLine));

    std::thread([&dlg] { dlg.OnPackageDownload(CoreDownload()); }).join();
    const wchar_t kLine[] = L"core.zip 12.3 / 480.0 MB · 2.1 MB/s";
    ASSERT_TRUE(WaitFor([&] { return ::IsWindowVisible(hLine) && WindowText(hLine) == kLine; }));
    Screenshot shown = window.Capture();
    shown.Save(L"installing-download-line");
    EXPECT_GT(shown.CountDark(rcLine), 100);
    // In the percentage's colour, RGB(51, 47, 46).
    int nTextColour = 0;
    for (int y = rcLine.top; y < rcLine.bottom; ++y) {
        for (int x = rcLine.left; x < rcLine.right; ++x)
            nTextColour += IsColor(shown.At(x, y), 0x332F2E, 6) ? 1 : 0;
    }
    EXPECT_GT(nTextColour, 50);
    // The bar and the percentage stay as they were, pixel for pixel.
    EXPECT_EQ(0, CountDifferent(before, shown, rcBar));
    EXPECT_EQ(0, CountDifferent(before, shown, rcPercent));
    EXPECT_EQ(L"50%", WindowText(hPercent));

    PackageDownloadState ended = CoreDownload();
    ended.bEnded = true;
    std::thread([&dlg, &ended] { dlg.OnPackageDownload(ended); }).join();
    ASSERT_TRUE(WaitFor([&] { return !::IsWindowVisible(hLine); }));
    Screenshot after = window.Capture();
    EXPECT_EQ(0, CountDifferent(before, after, {0, 324, kClientWidth, kClientHeight}));
}

TEST(Window, DownloadLineHiddenOnTheReadyPageAndUnderAnError)
{
    CWindowUnderTest window;
    ASSERT_TRUE(window.Opened());
    CTestSetupDlg& dlg = window.Dlg();
    HWND hLine = ::GetDlgItem(window.Hwnd(), IDC_DOWNLOAD_LABEL);
    HWND hStatus = ::GetDlgItem(window.Hwnd(), IDC_STATUS_LABEL);

    std::thread([&dlg] { dlg.OnPackageDownload(CoreDownload()); }).join();
    ASSERT_TRUE(WaitFor([&] { return dlg.m_nReportMessages == 1; }));
    EXPECT_FALSE(::IsWindowVisible(hLine)) << "on the ready page";
    window.EnterInstallingPage();
    EXPECT_TRUE(::IsWindowVisible(hLine));

    // The error takes the row while it shows.
    std::thread([&dlg] { dlg.OnError({InstallError::kPackageDownload, L"core.zip"}); }).join();
    ASSERT_TRUE(WaitFor([&] { return ::IsWindowVisible(hStatus) && !::IsWindowVisible(hLine); }));
    EXPECT_GT(CountRed(window.Capture(), {34, 324, 494, 342}), 30);
    std::thread([&dlg] { dlg.OnErrorCleared(); }).join();
    EXPECT_TRUE(WaitFor([&] { return ::IsWindowVisible(hLine) && !::IsWindowVisible(hStatus); }));
    EXPECT_EQ(L"core.zip 12.3 / 480.0 MB · 2.1 MB/s", WindowText(hLine));
}

TEST(Window, EmptyVisibleLabelIsAWhiteRectangle)
{
    CWindowUnderTest window;
    ASSERT_TRUE(window.Opened());
    HWND hStatus = ::GetDlgItem(window.Hwnd(), IDC_STATUS_LABEL);
    window.Dlg().RunOnUiThread([hStatus] { ::ShowWindow(hStatus, SW_SHOW); });
    ASSERT_TRUE(WaitFor([&] { return ::IsWindowVisible(hStatus) != FALSE; }));
    Screenshot shot = window.Capture();
    int nWhite = 0;
    for (int y = 324; y < 342; ++y) {
        for (int x = 34; x < 494; ++x)
            nWhite += IsColor(shot.At(x, y), kWhite) ? 1 : 0;
    }
    EXPECT_EQ(460 * 18, nWhite);
}

// With high contrast on, the texts over the artwork take the system's
// window colours: the grey disk-space box and the red error go.
TEST(Window, HighContrastTextsTakeTheSystemColours)
{
    CWindowUnderTest window;
    ASSERT_TRUE(window.Opened());
    CTestSetupDlg& dlg = window.Dlg();
    HWND hWnd = window.Hwnd();
    // As WM_SETTINGCHANGE finds the system's setting, which Wine cannot
    // switch on.
    dlg.RunOnUiThread([&dlg, hWnd] {
        dlg.m_bHighContrast = true;
        ::RedrawWindow(hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
    });
    const COLORREF crWindow = ::GetSysColor(COLOR_WINDOW);
    const uint32_t rgbWindow = (GetRValue(crWindow) << 16) | (GetGValue(crWindow) << 8) | GetBValue(crWindow);
    Screenshot ready = window.Capture();
    ready.Save(L"ready-high-contrast");
    EXPECT_TRUE(IsColor(ready.At(38, 300), rgbWindow));
    EXPECT_TRUE(IsColor(ready.At(287, 322), rgbWindow));
    EXPECT_GT(ready.CountDark({43, 303, 288, 322}), 80);

    window.EnterInstallingPage();
    std::thread([&dlg] { dlg.OnError({InstallError::kVerification, L""}); }).join();
    HWND hStatus = ::GetDlgItem(hWnd, IDC_STATUS_LABEL);
    ASSERT_TRUE(WaitFor([&] { return ::IsWindowVisible(hStatus) != FALSE; }));
    Screenshot installing = window.Capture();
    EXPECT_EQ(0, CountRed(installing, {34, 324, 494, 342}));
    EXPECT_GT(installing.CountDark({34, 324, 494, 342}), 30);
    EXPECT_TRUE(IsColor(installing.At(35, 325), rgbWindow));
}

// A change of DPI, as the system sends it when the window moves to another
// monitor, scales the window and everything in it; back at 96 DPI it is
// as it was.
TEST(Window, DpiChangeScalesTheWindowAndBack)
{
    CWindowUnderTest window;
    ASSERT_TRUE(window.Opened());
    CTestSetupDlg& dlg = window.Dlg();
    HWND hWnd = window.Hwnd();
    const Screenshot before = window.Capture();
    const RECT rcBefore = WindowRect(hWnd);

    RECT rcSuggested = {rcBefore.left, rcBefore.top, rcBefore.left + 795, rcBefore.top + 540};
    ::SendMessageW(hWnd, WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&rcSuggested));
    RECT rc = WindowRect(hWnd);
    EXPECT_TRUE(::EqualRect(&rcSuggested, &rc));
    const RECT rcInstall = {252, 252, 545, 323};
    RECT rcButton = ChildRect(hWnd, ::GetDlgItem(hWnd, IDC_INSTALL_BUTTON));
    EXPECT_TRUE(::EqualRect(&rcInstall, &rcButton));
    const RECT rcPercent = {735, 512, 788, 539};
    RECT rcLabel = ChildRect(hWnd, ::GetDlgItem(hWnd, IDC_PERCENT_LABEL));
    EXPECT_TRUE(::EqualRect(&rcPercent, &rcLabel));
    LOGFONTW lf = {};
    ::GetObjectW(dlg.m_font.Get(), sizeof(lf), &lf);
    EXPECT_EQ(21, lf.lfHeight);
    Screenshot scaled = window.Capture();
    scaled.Save(L"ready-dpi-changed-to-144");
    ASSERT_EQ(795, scaled.cx);
    const Screenshot art = RenderLikeTheWindow(IDR_JPG_READY, {795, 540});
    EXPECT_EQ(0, CountDifferent(scaled, art, rcInstall));
    EXPECT_EQ(0, CountDifferent(scaled, art, {705, 0, 795, 48})) << "minimize and close";

    ::SendMessageW(hWnd, WM_DPICHANGED, MAKEWPARAM(96, 96), reinterpret_cast<LPARAM>(&rcBefore));
    rc = WindowRect(hWnd);
    EXPECT_TRUE(::EqualRect(&rcBefore, &rc));
    // All but the free space, which may have changed meanwhile.
    const Screenshot after = window.Capture();
    EXPECT_EQ(0, CountDifferent(before, after, {0, 0, kClientWidth, 300}));
    EXPECT_EQ(0, CountDifferent(before, after, {0, 323, kClientWidth, kClientHeight}));
}

TEST(Window, ObserverNeverWaitsForTheWindowsThread)
{
    CWindowUnderTest window;
    ASSERT_TRUE(window.Opened());
    CTestSetupDlg& dlg = window.Dlg();
    window.EnterInstallingPage();
    HWND hWnd = window.Hwnd();

    // The window's thread is busy, as while it waits for the worker.
    HANDLE hRelease = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    dlg.PostToUiThread([hRelease] { ::WaitForSingleObject(hRelease, 20000); });
    ::Sleep(100);

    struct Calls {
        static DWORD WINAPI Run(LPVOID pParam)
        {
            CTestSetupDlg* pDlg = static_cast<CTestSetupDlg*>(pParam);
            pDlg->OnPackageStarted(L"a.zip");
            pDlg->OnError({InstallError::kPackageInstall, L"a.zip"});
            pDlg->OnProgress(42);
            // A burst of download reports, each a MB on.
            PackageDownloadState state = CoreDownload();
            for (int i = 1; i <= 200; ++i) {
                state.nReceived = static_cast<uint64_t>(i) * 1048576;
                pDlg->OnPackageDownload(state);
            }
            pDlg->OnProgress(100);
            pDlg->OnFinished(true);
            return 0;
        }
    };
    HANDLE hCaller = ::CreateThread(nullptr, 0, &Calls::Run, &dlg, 0, nullptr);
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(hCaller, 3000)) << "an install thread waited for the window";
    ::SetEvent(hRelease);
    ::WaitForSingleObject(hCaller, INFINITE);
    ::CloseHandle(hCaller);
    ::CloseHandle(hRelease);

    // Once free, the window applies everything in order.
    HWND hStatus = ::GetDlgItem(hWnd, IDC_STATUS_LABEL);
    HWND hPercent = ::GetDlgItem(hWnd, IDC_PERCENT_LABEL);
    EXPECT_TRUE(WaitFor([&] { return WindowText(hPercent) == L"100%"; }));
    EXPECT_TRUE(WaitFor([&] { return ::IsWindowVisible(hStatus) && WindowText(hStatus) == L"安装a.zip失败"; }));
    EXPECT_EQ(RGB(255, 0, 0), dlg.m_staticStatus.GetTextColor());
    // The whole burst came to one message, which applied the last download
    // report; a function posted now runs after every message posted before.
    std::atomic<bool> bQueueDone{false};
    dlg.PostToUiThread([&bQueueDone] { bQueueDone = true; });
    ASSERT_TRUE(WaitFor([&] { return bQueueDone.load(); }));
    EXPECT_EQ(1, dlg.m_nReportMessages);
    EXPECT_EQ(L"core.zip 200.0 / 480.0 MB · 34.1 MB/s", WindowText(::GetDlgItem(hWnd, IDC_DOWNLOAD_LABEL)));
    EXPECT_TRUE(WaitFor([&] { return dlg.m_nLaunchTimerTicks == 1; }, 3000)) << "launch timer";
}

TEST(Window, LaunchTimerTicksOnceAfterASecond)
{
    CWindowUnderTest window;
    ASSERT_TRUE(window.Opened());
    CTestSetupDlg& dlg = window.Dlg();
    DWORD dwStart = ::GetTickCount();
    std::thread([&dlg] { dlg.OnFinished(true); }).join();
    ASSERT_TRUE(WaitFor([&] { return dlg.m_nLaunchTimerTicks == 1; }, 3000));
    EXPECT_GE(::GetTickCount() - dwStart, 900u);
    ::Sleep(1500);
    EXPECT_EQ(1, dlg.m_nLaunchTimerTicks) << "stopped at its first tick";
}

TEST(Window, DestroyReleasesImagesAndCutsOffTheInstallThreads)
{
    CWindowUnderTest window;
    ASSERT_TRUE(window.Opened());
    CTestSetupDlg& dlg = window.Dlg();
    window.Click({510, 10});
    ASSERT_TRUE(window.WaitEnded(5000));
    for (const ScopedGdiObject* pBitmap : {&dlg.m_bmpPage, &dlg.m_bmpBarTrack, &dlg.m_bmpBarFill})
        EXPECT_FALSE(*pBitmap);
    EXPECT_EQ(nullptr, dlg.m_staticPercent.GetSafeHwnd());
    // Late calls from a session's thread find no window and do nothing; a
    // question for the user is answered "no" at once.
    std::thread([&dlg] {
        dlg.OnError({InstallError::kVerification, L""});
        dlg.OnProgress(5);
        dlg.OnFinished(true);
        StopToken stop;
        std::wstring strUser;
        std::wstring strPassword;
        EXPECT_FALSE(dlg.AskProxyCredentials(stop, &strUser, &strPassword));
    }).join();
}

TEST(Input, MinimizeAndCloseMeetAtTheirEdge)
{
    {
        CWindowUnderTest window;
        ASSERT_TRUE(window.Opened());
        window.Click({499, 10});
        EXPECT_TRUE(WaitFor([&] { return ::IsIconic(window.Hwnd()) != FALSE; }));
        EXPECT_FALSE(window.WaitEnded(0));
    }
    {
        CWindowUnderTest window;
        ASSERT_TRUE(window.Opened());
        window.Click({500, 10});
        ASSERT_TRUE(window.WaitEnded(5000));
        EXPECT_EQ(IDCANCEL, window.Result());
    }
}

TEST(Input, ClickOutsideTheInstallButtonDoesNothing)
{
    CWindowUnderTest window;
    ASSERT_TRUE(window.Opened());
    RECT rcBefore = WindowRect(window.Hwnd());
    window.Click({363, 215});
    ::Sleep(300);
    EXPECT_FALSE(window.WaitEnded(0));
    EXPECT_FALSE(::IsIconic(window.Hwnd()));
    EXPECT_EQ(nullptr, window.FindMessageBox());
    EXPECT_EQ(PAGE_READY, window.Dlg().m_nSetupState);
    RECT rcAfter = WindowRect(window.Hwnd());
    EXPECT_TRUE(::EqualRect(&rcBefore, &rcAfter));
}

TEST(Input, DragByTheClientArea)
{
    CWindowUnderTest window;
    ASSERT_TRUE(window.Opened());
    RECT rcBefore = WindowRect(window.Hwnd());
    window.Drag({100, 100}, {140, 130});
    ASSERT_TRUE(WaitFor([&] { return WindowRect(window.Hwnd()).left != rcBefore.left; }, 3000));
    RECT rcAfter = WindowRect(window.Hwnd());
    EXPECT_EQ(rcBefore.left + 40, rcAfter.left);
    EXPECT_EQ(rcBefore.top + 30, rcAfter.top);
    EXPECT_FALSE(window.WaitEnded(0));
}

TEST(Input, ButtonsAndLicenceLineDoNotDrag)
{
    struct Case {
        POINT ptFrom;
        POINT ptTo;
    };
    // Each release lands where no button is, so nothing else happens.
    const Case cases[] = {
        {{450, 280}, {480, 305}},  // browse
        {{480, 10}, {440, 40}},    // minimize
        {{515, 10}, {515, 60}},    // close
        {{170, 170}, {150, 150}},  // install
        {{15, 340}, {45, 320}},    // licence box
        {{100, 344}, {100, 320}},  // licence link
    };
    CWindowUnderTest window;
    ASSERT_TRUE(window.Opened());
    RECT rcBefore = WindowRect(window.Hwnd());
    for (const Case& c : cases) {
        window.Drag(c.ptFrom, c.ptTo);
        RECT rcAfter = WindowRect(window.Hwnd());
        EXPECT_TRUE(::EqualRect(&rcBefore, &rcAfter)) << "dragged from " << c.ptFrom.x << "," << c.ptFrom.y;
    }
    EXPECT_FALSE(window.WaitEnded(0));
    EXPECT_FALSE(::IsIconic(window.Hwnd()));
}

TEST(Input, ReleaseOnAnotherButtonTriggersThatButton)
{
    CWindowUnderTest window;
    ASSERT_TRUE(window.Opened());
    // Pressed on browse, released on minimize.
    window.Drag({460, 285}, {485, 16});
    EXPECT_TRUE(WaitFor([&] { return ::IsIconic(window.Hwnd()) != FALSE; }));
    EXPECT_FALSE(window.WaitEnded(0));
}

TEST(Input, InstallAreaDragsOnTheInstallingPage)
{
    CWindowUnderTest window;
    ASSERT_TRUE(window.Opened());
    window.EnterInstallingPage();
    RECT rcBefore = WindowRect(window.Hwnd());
    window.Drag({200, 190}, {230, 210});
    ASSERT_TRUE(WaitFor([&] { return WindowRect(window.Hwnd()).left != rcBefore.left; }, 3000));
    RECT rcAfter = WindowRect(window.Hwnd());
    EXPECT_EQ(rcBefore.left + 30, rcAfter.left);
    EXPECT_EQ(rcBefore.top + 20, rcAfter.top);
    EXPECT_EQ(PAGE_INSTALLING, window.Dlg().m_nSetupState);
    EXPECT_FALSE(window.WaitEnded(0));
}

TEST(Input, HandCursorOnlyOverTheButtonsOfThePage)
{
    struct Case {
        POINT pt;
        bool bHand;
    };
    const Case ready[] = {{{460, 285}, true}, {{250, 190}, true}, {{485, 16}, true}, {{100, 100}, false}};
    const Case installing[] = {{{460, 285}, false}, {{250, 190}, false}, {{515, 16}, true}, {{100, 100}, false}};
    CWindowUnderTest window;
    ASSERT_TRUE(window.Opened());
    for (int nPage : {PAGE_READY, PAGE_INSTALLING}) {
        if (nPage == PAGE_INSTALLING)
            window.EnterInstallingPage();
        for (const Case& c : nPage == PAGE_READY ? ready : installing) {
            // From a button first, so the arrow must come back by itself.
            window.MoveMouseTo({515, 16});
            ASSERT_TRUE(WaitFor([&] { return IsHandCursorOnUiThread(window); }, 3000));
            window.MoveMouseTo(c.pt);
            EXPECT_TRUE(WaitFor([&] { return IsHandCursorOnUiThread(window) == c.bHand; }, 3000))
                << "page " << nPage << " at " << c.pt.x << "," << c.pt.y;
        }
    }
}

TEST(Input, CloseQuestionCancelKeepsTheInstallGoing)
{
    CWindowUnderTest window;
    ASSERT_TRUE(window.Opened());
    window.EnterInstallingPage();
    window.Click({510, 10});
    HWND hBox = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (hBox = window.FindMessageBox()) != nullptr; }));
    EXPECT_EQ(L"询问", WindowText(hBox));
    EXPECT_EQ(L"是否终止安装？", WindowText(::GetDlgItem(hBox, 0xFFFF)));
    HWND hOk = ::GetDlgItem(hBox, IDOK);
    HWND hCancel = ::GetDlgItem(hBox, IDCANCEL);
    ASSERT_NE(nullptr, hOk);
    ASSERT_NE(nullptr, hCancel);
    EXPECT_EQ(nullptr, ::GetDlgItem(hBox, IDYES));
    EXPECT_EQ(window.Hwnd(), ::GetWindow(hBox, GW_OWNER));

    // Progress keeps coming in behind the question.
    window.SendProgress(60);
    EXPECT_EQ(L"60%", WindowText(::GetDlgItem(window.Hwnd(), IDC_PERCENT_LABEL)));

    RECT rcCancel;
    ::GetWindowRect(hCancel, &rcCancel);
    POINT ptCancel = {(rcCancel.left + rcCancel.right) / 2, (rcCancel.top + rcCancel.bottom) / 2};
    ::ScreenToClient(window.Hwnd(), &ptCancel);
    window.Click(ptCancel);
    ASSERT_TRUE(WaitFor([&] { return window.FindMessageBox() == nullptr; }));
    EXPECT_FALSE(window.WaitEnded(300));
    EXPECT_EQ(PAGE_INSTALLING, window.Dlg().m_nSetupState);
}

TEST(Input, CloseQuestionOkEndsTheWindow)
{
    CWindowUnderTest window;
    ASSERT_TRUE(window.Opened());
    window.EnterInstallingPage();
    window.Click({510, 10});
    HWND hBox = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (hBox = window.FindMessageBox()) != nullptr; }));
    RECT rcOk;
    ::GetWindowRect(::GetDlgItem(hBox, IDOK), &rcOk);
    POINT ptOk = {(rcOk.left + rcOk.right) / 2, (rcOk.top + rcOk.bottom) / 2};
    ::ScreenToClient(window.Hwnd(), &ptOk);
    window.Click(ptOk);
    ASSERT_TRUE(window.WaitEnded(5000));
    EXPECT_EQ(IDCANCEL, window.Result());
}

TEST(Input, CloseAsksNothingOnTheReadyPageOrAfterAnError)
{
    CWindowUnderTest window;
    ASSERT_TRUE(window.Opened());
    window.EnterInstallingPage();
    std::thread([&window] { window.Dlg().OnError({InstallError::kVerification, L""}); }).join();
    window.Click({510, 10});
    ASSERT_TRUE(window.WaitEnded(5000));
    EXPECT_EQ(IDCANCEL, window.Result());
}

// Escape, Alt+F4 and the system's close act as the close button: during an
// install they ask, and Cancel lets the install finish and the window end
// for the client to start.
TEST(Input, EscapeAltF4AndSystemCloseAskLikeTheCloseButton)
{
    struct Case {
        const char* pszName;
        std::function<void(CWindowUnderTest&)> close;
    };
    const Case cases[] = {
        {"Escape", [](CWindowUnderTest& window) { window.PressKey(VK_ESCAPE); }},
        {"Alt+F4", [](CWindowUnderTest& window) { window.PressKey(VK_F4, VK_MENU); }},
        {"system close", [](CWindowUnderTest& window) { ::PostMessageW(window.Hwnd(), WM_SYSCOMMAND, SC_CLOSE, 0); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszName);
        CWindowUnderTest window;
        ASSERT_TRUE(window.Opened());
        window.EnterInstallingPage();
        c.close(window);
        HWND hBox = nullptr;
        ASSERT_TRUE(WaitFor([&] { return (hBox = window.FindMessageBox()) != nullptr; }));
        EXPECT_EQ(L"是否终止安装？", WindowText(::GetDlgItem(hBox, 0xFFFF)));
        ::PostMessageW(hBox, WM_COMMAND, IDCANCEL, 0);
        ASSERT_TRUE(WaitFor([&] { return window.FindMessageBox() == nullptr; }));
        EXPECT_FALSE(window.WaitEnded(300));
        std::thread([&window] { window.Dlg().OnFinished(true); }).join();
        ASSERT_TRUE(window.WaitEnded(5000));
        EXPECT_EQ(IDOK, window.Result());
    }
    // The ready page ends at once, as on the close button.
    CWindowUnderTest window;
    ASSERT_TRUE(window.Opened());
    window.PressKey(VK_ESCAPE);
    ASSERT_TRUE(window.WaitEnded(5000));
    EXPECT_EQ(IDCANCEL, window.Result());
}

TEST(Input, EnterInstallsOnTheReadyPageAndDoesNothingDuringTheInstall)
{
    CWindowUnderTest window;
    ASSERT_TRUE(window.Opened());
    CTestSetupDlg& dlg = window.Dlg();
    dlg.InstallFromNowhere();
    window.PressKey(VK_RETURN);
    ASSERT_TRUE(WaitFor([&] { return dlg.m_nSetupState == PAGE_INSTALLING; }));
    EXPECT_TRUE(dlg.Outcome().bStarted);
    window.PressKey(VK_RETURN);
    EXPECT_FALSE(window.WaitEnded(300));
    EXPECT_EQ(nullptr, window.FindMessageBox());
}

// The focus starts on the install button without a cue; Tab and Shift+Tab
// go round the buttons, now with a cue, and Space presses the focused one.
TEST(Input, TabGoesRoundTheButtonsAndSpacePressesThem)
{
    CWindowUnderTest window;
    ASSERT_TRUE(window.Opened());
    CTestSetupDlg& dlg = window.Dlg();
    HWND hWnd = window.Hwnd();
    dlg.InstallFromNowhere();
    const Screenshot art = RenderLikeTheWindow(IDR_JPG_READY);
    EXPECT_EQ(::GetDlgItem(hWnd, IDC_INSTALL_BUTTON), FocusOf(window));
    EXPECT_EQ(0, CountDifferent(window.Capture(), art, kButtons[0].rcArea));

    for (size_t i = 1; i <= std::size(kButtons); ++i) {
        const ButtonCase& button = kButtons[i % std::size(kButtons)];
        window.PressKey(VK_TAB);
        EXPECT_EQ(::GetDlgItem(hWnd, button.nId), FocusOf(window)) << Narrow(button.pszName);
        Screenshot shot = window.Capture();
        EXPECT_GT(CountDifferent(shot, art, button.rcArea), 20) << "no focus cue on " << Narrow(button.pszName);
        if (i == 1)
            shot.Save(L"ready-focus-browse");
    }
    window.PressKey(VK_TAB, VK_SHIFT);
    EXPECT_EQ(::GetDlgItem(hWnd, IDC_CLOSE_BUTTON), FocusOf(window));
    window.PressKey(VK_TAB);
    window.PressKey(VK_SPACE);
    ASSERT_TRUE(WaitFor([&] { return dlg.m_nSetupState == PAGE_INSTALLING; }));
    // The page has no install button now: the focus moved on.
    EXPECT_EQ(::GetDlgItem(hWnd, IDC_MINIMIZE_BUTTON), FocusOf(window));
}

// The browser is the window's: nothing else takes a click while it is
// open. It has a field to type a folder into; Wine's browser shows it but
// takes the tree's choice.
TEST(Input, FolderBrowserIsModalWithAFieldForAPath)
{
    CWindowUnderTest window;
    ASSERT_TRUE(window.Opened());
    HWND hWnd = window.Hwnd();
    window.Click({460, 285});
    HWND hBrowser = nullptr;
    ASSERT_TRUE(WaitFor([&] {
        hBrowser = window.FindMessageBox();
        return hBrowser && ::FindWindowExW(hBrowser, nullptr, L"SysTreeView32", nullptr);
    }));
    EXPECT_EQ(hWnd, ::GetWindow(hBrowser, GW_OWNER));
    EXPECT_FALSE(::IsWindowEnabled(hWnd));
    EXPECT_NE(nullptr, ::FindWindowExW(hBrowser, nullptr, L"Edit", nullptr)) << "no field for a path";
    window.Click({kButtons[0].rcArea.left + 20, kButtons[0].rcArea.top + 20});
    ::PostMessageW(hBrowser, WM_COMMAND, IDCANCEL, 0);
    ASSERT_TRUE(WaitFor([&] { return ::IsWindowEnabled(hWnd) != FALSE; }));
    EXPECT_EQ(PAGE_READY, window.Dlg().m_nSetupState) << "the install started under the browser";
}

TEST(Input, WindowAndButtonsCarryTheirNames)
{
    CWindowUnderTest window;
    ASSERT_TRUE(window.Opened());
    HWND hWnd = window.Hwnd();
    EXPECT_EQ(L"Fenmora", WindowText(hWnd));
    EXPECT_EQ(L"Fenmora", AccessibleName(hWnd));
    for (const ButtonCase& button : kButtons) {
        SCOPED_TRACE(Narrow(button.pszName));
        HWND hButton = ::GetDlgItem(hWnd, button.nId);
        ASSERT_NE(nullptr, hButton);
        EXPECT_EQ(button.pszName, WindowText(hButton));
        EXPECT_EQ(button.pszName, AccessibleName(hButton));
        RECT rc = ChildRect(hWnd, hButton);
        EXPECT_TRUE(::EqualRect(&button.rcArea, &rc));
        EXPECT_TRUE(::GetWindowLongW(hButton, GWL_STYLE) & WS_TABSTOP);
    }
}

// At 144 DPI, as ui_tests_high_dpi runs them with the session's LogPixels
// at 144: the design at one and a half times its size.
TEST(HighDpi, WindowScalesAndItsScaledInstallButtonInstalls)
{
    HDC hdcScreen = ::GetDC(nullptr);
    const int nDpi = ::GetDeviceCaps(hdcScreen, LOGPIXELSY);
    ::ReleaseDC(nullptr, hdcScreen);
    if (nDpi != 144)
        GTEST_SKIP() << "the session runs at " << nDpi << " DPI; ui_tests_high_dpi runs this at 144";

    CWindowUnderTest window;
    ASSERT_TRUE(window.Opened());
    CTestSetupDlg& dlg = window.Dlg();
    HWND hWnd = window.Hwnd();
    RECT rc = WindowRect(hWnd);
    EXPECT_EQ(795, rc.right - rc.left);
    EXPECT_EQ(540, rc.bottom - rc.top);
    const Screenshot art = RenderLikeTheWindow(IDR_JPG_READY, {795, 540});
    Screenshot ready = window.Capture();
    ready.Save(L"ready-144dpi");
    EXPECT_LE(MeanDifference(ready, art), 2);

    // The path box is (57,405)-(395,440); right of it the artwork shows.
    dlg.RunOnUiThread([&] {
        dlg.SettleBrowsedLocation(L"R:\\Program Files Extended Collection\\Applications");
        ::InvalidateRect(hWnd, nullptr, TRUE);
    });
    Screenshot longRoot = window.Capture();
    longRoot.Save(L"ready-144dpi-long-root");
    EXPECT_GT(longRoot.CountDark({64, 411, 395, 440}), 60);
    EXPECT_EQ(0, CountDifferent(longRoot, art, {395, 405, 795, 447}));

    dlg.InstallFromNowhere();
    window.Click({400, 290});
    ASSERT_TRUE(WaitFor([&] { return dlg.m_nSetupState == PAGE_INSTALLING; }));
    EXPECT_TRUE(dlg.Outcome().bStarted);
}
