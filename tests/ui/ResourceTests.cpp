#include "resources/resource.h"
#include "tests/support/TempDir.h"
#include "tests/ui/WindowDriver.h"
#include "ui/JpegDecoder.h"
#include "ui/ResourceImage.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <gdiplus.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

const WORD kChineseSimplified = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);

std::vector<uint8_t> ResourceBytes(HMODULE hModule, const wchar_t* pszType, const wchar_t* pszName, WORD wLanguage)
{
    HRSRC hRes = ::FindResourceExW(hModule, pszType, pszName, wLanguage);
    if (!hRes)
        return {};
    HGLOBAL hData = ::LoadResource(hModule, hRes);
    const uint8_t* p = static_cast<const uint8_t*>(::LockResource(hData));
    return p ? std::vector<uint8_t>(p, p + ::SizeofResource(hModule, hRes)) : std::vector<uint8_t>();
}

// The JPEG decoded straight from its bytes, as GDI+ decodes a file.
std::unique_ptr<Gdiplus::Bitmap> DecodeJpeg(const std::vector<uint8_t>& data)
{
    IStream* pStream = ::SHCreateMemStream(data.data(), static_cast<UINT>(data.size()));
    std::unique_ptr<Gdiplus::Bitmap> bitmap(pStream ? Gdiplus::Bitmap::FromStream(pStream) : nullptr);
    if (pStream)
        pStream->Release();
    return bitmap;
}

// The RGB bytes of a bitmap, row after row.
std::vector<uint8_t> Pixels(Gdiplus::Bitmap& bitmap)
{
    Gdiplus::Rect rc(0, 0, static_cast<INT>(bitmap.GetWidth()), static_cast<INT>(bitmap.GetHeight()));
    Gdiplus::BitmapData data = {};
    std::vector<uint8_t> pixels;
    if (bitmap.LockBits(&rc, Gdiplus::ImageLockModeRead, PixelFormat24bppRGB, &data) != Gdiplus::Ok)
        return pixels;
    for (INT y = 0; y < rc.Height; ++y) {
        const uint8_t* pRow = static_cast<const uint8_t*>(data.Scan0) + static_cast<ptrdiff_t>(y) * data.Stride;
        pixels.insert(pixels.end(), pRow, pRow + rc.Width * 3);
    }
    bitmap.UnlockBits(&data);
    return pixels;
}

struct JpegFrame {
    int nMarker = 0;
    int nPrecision = 0;
    int nHeight = 0;
    int nWidth = 0;
    int nComponents = 0;
};

// The first frame header of a JPEG file, walking its segments.
bool ReadJpegFrame(const std::vector<uint8_t>& data, JpegFrame* pFrame)
{
    if (data.size() < 4 || data[0] != 0xFF || data[1] != 0xD8)
        return false;
    size_t pos = 2;
    while (pos + 4 <= data.size()) {
        if (data[pos] != 0xFF)
            return false;
        int nMarker = data[pos + 1];
        size_t cbSegment = (static_cast<size_t>(data[pos + 2]) << 8) | data[pos + 3];
        if (nMarker >= 0xC0 && nMarker <= 0xCF && nMarker != 0xC4 && nMarker != 0xC8 && nMarker != 0xCC) {
            if (pos + 10 > data.size())
                return false;
            pFrame->nMarker = nMarker;
            pFrame->nPrecision = data[pos + 4];
            pFrame->nHeight = (data[pos + 5] << 8) | data[pos + 6];
            pFrame->nWidth = (data[pos + 7] << 8) | data[pos + 8];
            pFrame->nComponents = data[pos + 9];
            return true;
        }
        pos += 2 + cbSegment;
    }
    return false;
}

// A Windows path for a path CTest hands over in Unix form.
std::wstring WindowsPath(const char* pszPath)
{
    std::wstring str;
    for (const char* p = pszPath; *p; ++p)
        str += *p == '/' ? L'\\' : static_cast<wchar_t>(*p);
    return str.size() > 1 && str[0] == L'\\' ? L"Z:" + str : str;
}

}  // namespace

TEST(Resources, ArtworkIsBaselineJpegOfItsSize)
{
    struct Case {
        WORD nId;
        int nWidth;
        int nHeight;
    };
    const Case cases[] = {
        {IDR_JPG_READY, 530, 360},    {IDR_JPG_SLIDE1, 530, 380},    {IDR_JPG_SLIDE2, 530, 380},
        {IDR_JPG_SLIDE3, 530, 380},   {IDR_JPG_SLIDE4, 530, 380},    {IDR_JPG_BAR_TRACK, 490, 6},
        {IDR_JPG_BAR_FILL, 490, 6},
    };
    HMODULE hModule = ::GetModuleHandleW(nullptr);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.nId);
        std::vector<uint8_t> data = ResourceBytes(hModule, L"JGP", MAKEINTRESOURCEW(c.nId), kChineseSimplified);
        ASSERT_FALSE(data.empty()) << "no JGP resource in language 2052";
        JpegFrame frame;
        ASSERT_TRUE(ReadJpegFrame(data, &frame));
        EXPECT_EQ(0xC0, frame.nMarker) << "not a baseline frame";
        EXPECT_EQ(8, frame.nPrecision);
        EXPECT_EQ(3, frame.nComponents);
        EXPECT_EQ(c.nWidth, frame.nWidth);
        EXPECT_EQ(c.nHeight, frame.nHeight);

        // At its own size the loaded bitmap holds the decoded pixels.
        HBITMAP hBitmap = LoadBitmapFromResource(c.nId, c.nWidth, c.nHeight);
        ASSERT_NE(nullptr, hBitmap);
        Screenshot loaded = ShotOfBitmap(hBitmap);
        ::DeleteObject(hBitmap);
        EXPECT_EQ(c.nWidth, loaded.cx);
        EXPECT_EQ(c.nHeight, loaded.cy);
        std::unique_ptr<Gdiplus::Bitmap> decoded = DecodeJpeg(data);
        ASSERT_TRUE(decoded && decoded->GetWidth() > 0);
        std::vector<uint8_t> pixels = Pixels(*decoded);
        ASSERT_EQ(loaded.pixels.size() * 3, pixels.size());
        // Within one level of the system's decoder on every channel.
        int nWorst = 0;
        for (size_t i = 0; i < loaded.pixels.size(); ++i) {
            for (int nChannel = 0; nChannel < 3; ++nChannel) {
                const int nSystem = pixels[3 * i + static_cast<size_t>(nChannel)];
                const int nOurs = static_cast<int>(loaded.pixels[i] >> (8 * nChannel) & 0xFF);
                nWorst = std::max(nWorst, std::abs(nSystem - nOurs));
            }
        }
        EXPECT_LE(nWorst, 1);
    }
}

TEST(Resources, DecoderRefusesWhatItCannotRead)
{
    const std::vector<uint8_t> good =
        ResourceBytes(::GetModuleHandleW(nullptr), L"JGP", MAKEINTRESOURCEW(IDR_JPG_BAR_FILL), kChineseSimplified);
    ASSERT_FALSE(good.empty());
    // The offset of the first byte of a marker's segment.
    auto find = [&good](uint8_t nMarker) {
        for (size_t i = 0; i + 1 < good.size(); ++i) {
            if (good[i] == 0xFF && good[i + 1] == nMarker)
                return i + 2;
        }
        return size_t(0);
    };
    const size_t nFrame = find(0xC0);
    const size_t nScan = find(0xDA);
    ASSERT_TRUE(nFrame && nScan);
    struct Case {
        const char* pszWhat;
        std::function<void(std::vector<uint8_t>&)> change;
        bool bSize;  // the frame header still reads
    };
    const Case cases[] = {
        {"no start of image", [](std::vector<uint8_t>& d) { d[1] = 0xD9; }, false},
        {"cut after the frame", [&](std::vector<uint8_t>& d) { d.resize(nFrame + 20); }, true},
        {"cut in the scan", [&](std::vector<uint8_t>& d) { d.resize(nScan + 16); }, true},
        {"progressive", [&](std::vector<uint8_t>& d) { d[nFrame - 1] = 0xC2; }, false},
        {"12-bit samples", [&](std::vector<uint8_t>& d) { d[nFrame + 2] = 12; }, false},
        {"no width", [&](std::vector<uint8_t>& d) { d[nFrame + 5] = d[nFrame + 6] = 0; }, false},
        {"sampling of 4", [&](std::vector<uint8_t>& d) { d[nFrame + 9] = 0x41; }, false},
        {"scan of a component not in the frame", [&](std::vector<uint8_t>& d) { d[nScan + 3] = 9; }, true},
        {"scan of part of the spectrum", [&](std::vector<uint8_t>& d) { d[nScan + 10] = 5; }, true},
        {"a second frame",
         [&](std::vector<uint8_t>& d) {
             std::vector<uint8_t> frame(d.begin() + nFrame - 2, d.begin() + nFrame + 17);
             frame[8] = 0x10;  // 272 wide, not 490
             d.insert(d.begin() + nFrame + 17, frame.begin(), frame.end());
         },
         true},
    };
    int nRows = 0;
    EXPECT_TRUE(DecodeJpegRows(good.data(), good.size(), [&nRows](int, const uint8_t*) { return ++nRows > 0; }));
    EXPECT_EQ(6, nRows);
    for (const Case& c : cases) {
        std::vector<uint8_t> data = good;
        c.change(data);
        JpegSize size;
        EXPECT_EQ(c.bSize, ReadJpegSize(data.data(), data.size(), &size)) << c.pszWhat;
        EXPECT_FALSE(DecodeJpegRows(data.data(), data.size(), [](int, const uint8_t*) { return true; })) << c.pszWhat;
    }
    // A row the caller refuses ends the decoding.
    nRows = 0;
    EXPECT_FALSE(DecodeJpegRows(good.data(), good.size(), [&nRows](int, const uint8_t*) { return ++nRows < 2; }));
    EXPECT_EQ(2, nRows);
}

TEST(Resources, ScaleStepAlignsSampleCentres)
{
    struct Case {
        int nTarget, nSource, nTargetCount, nFirst, nWeight;
    };
    const Case cases[] = {
        {0, 360, 360, 0, 0}, {359, 360, 360, 359, 0},  // same size: each sample as it is
        {0, 380, 360, 0, 7}, {180, 380, 360, 190, 7}, {359, 380, 360, 378, 248},
        {0, 6, 8, 0, 0},     {1, 6, 8, 0, 160},       {7, 6, 8, 5, 0},  // the bars, 6 rows to 8
    };
    for (const Case& c : cases) {
        const ArtScale step = ScaleStep(c.nTarget, c.nSource, c.nTargetCount);
        EXPECT_EQ(c.nFirst, step.nFirst) << c.nTarget << " of " << c.nTargetCount;
        EXPECT_EQ(c.nWeight, step.nWeight) << c.nTarget << " of " << c.nTargetCount;
    }
}

TEST(Resources, IdOutsideTheArtworkLoadsNothing)
{
    for (WORD nId : {WORD(139), WORD(147), WORD(IDR_MAINFRAME), WORD(IDD_SETUP_DIALOG)})
        EXPECT_EQ(nullptr, LoadBitmapFromResource(nId, kClientWidth, kClientHeight)) << nId;
}

TEST(Resources, IconGroupHasFourSizesAt32Bits)
{
    HMODULE hModule = ::GetModuleHandleW(nullptr);
    std::vector<uint8_t> group =
        ResourceBytes(hModule, RT_GROUP_ICON, MAKEINTRESOURCEW(IDR_MAINFRAME), kChineseSimplified);
    ASSERT_GE(group.size(), 6u);
    int nCount = group[4] | (group[5] << 8);
    ASSERT_EQ(4, nCount);
    ASSERT_EQ(6u + 14u * nCount, group.size());
    std::vector<int> sizes;
    for (int i = 0; i < nCount; ++i) {
        const uint8_t* pEntry = group.data() + 6 + 14 * i;
        sizes.push_back(pEntry[0]);
        EXPECT_EQ(pEntry[0], pEntry[1]);
        EXPECT_EQ(32, pEntry[6] | (pEntry[7] << 8)) << "bits of entry " << i;
        WORD nIconId = static_cast<WORD>(pEntry[12] | (pEntry[13] << 8));
        std::vector<uint8_t> image = ResourceBytes(hModule, RT_ICON, MAKEINTRESOURCEW(nIconId), kChineseSimplified);
        ASSERT_FALSE(image.empty());
        HICON hIcon = ::CreateIconFromResourceEx(image.data(), static_cast<DWORD>(image.size()), TRUE, 0x00030000,
                                                 pEntry[0], pEntry[0], 0);
        EXPECT_NE(nullptr, hIcon) << "entry " << i;
        if (hIcon)
            ::DestroyIcon(hIcon);
    }
    EXPECT_EQ((std::vector<int>{64, 48, 32, 16}), sizes);
}

TEST(Resources, DialogTemplateAsWritten)
{
    std::vector<uint8_t> data =
        ResourceBytes(::GetModuleHandleW(nullptr), RT_DIALOG, MAKEINTRESOURCEW(IDD_SETUP_DIALOG), kChineseSimplified);
    ASSERT_GE(data.size(), 26u);
    auto word = [&](size_t pos) { return static_cast<unsigned>(data[pos] | (data[pos + 1] << 8)); };
    auto dword = [&](size_t pos) { return word(pos) | (word(pos + 2) << 16); };
    ASSERT_EQ(1u, word(0));
    ASSERT_EQ(0xFFFFu, word(2));
    EXPECT_EQ(static_cast<unsigned>(WS_EX_APPWINDOW), dword(8));
    EXPECT_EQ(static_cast<unsigned>(DS_SETFONT | WS_POPUP | WS_VISIBLE), dword(12));
    EXPECT_EQ(0u, word(16)) << "controls";
    EXPECT_EQ(0u, word(18));
    EXPECT_EQ(0u, word(20));
    EXPECT_EQ(320u, word(22));
    EXPECT_EQ(200u, word(24));
    // No menu, no class, an empty title.
    EXPECT_EQ(0u, word(26));
    EXPECT_EQ(0u, word(28));
    EXPECT_EQ(0u, word(30));
    EXPECT_EQ(9u, word(32)) << "font points";
    EXPECT_EQ(1u, data[37]) << "character set";
    std::wstring strFace;
    for (size_t pos = 38; pos + 1 < data.size() && word(pos) != 0; pos += 2)
        strFace += static_cast<wchar_t>(word(pos));
    EXPECT_EQ(L"宋体", strFace);
}

TEST(Resources, ExeAsksForAdministratorAndCarriesItsName)
{
    const char* pszExe = std::getenv("SETUP_EXE");
    if (!pszExe)
        GTEST_SKIP() << "SETUP_EXE not set";
    std::wstring strExe = WindowsPath(pszExe);
    HMODULE hExe = ::LoadLibraryExW(strExe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(nullptr, hExe) << Narrow(strExe);
    HRSRC hManifest = ::FindResourceW(hExe, MAKEINTRESOURCEW(1), RT_MANIFEST);
    ASSERT_NE(nullptr, hManifest);
    const char* pManifest = static_cast<const char*>(::LockResource(::LoadResource(hExe, hManifest)));
    std::string strManifest(pManifest, ::SizeofResource(hExe, hManifest));
    ::FreeLibrary(hExe);
    for (const char* pszPart :
         {"level=\"requireAdministrator\"", "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
          "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}", "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
          "{1f676c76-80e1-4239-95bb-83d0f6d0da78}", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",
          ">PerMonitorV2, PerMonitor</dpiAwareness>", ">true/pm</dpiAware>"}) {
        EXPECT_NE(std::string::npos, strManifest.find(pszPart)) << pszPart;
    }

    DWORD dwHandle = 0;
    DWORD cbInfo = ::GetFileVersionInfoSizeW(strExe.c_str(), &dwHandle);
    ASSERT_GT(cbInfo, 0u);
    std::vector<uint8_t> info(cbInfo);
    ASSERT_TRUE(::GetFileVersionInfoW(strExe.c_str(), 0, cbInfo, info.data()));
    wchar_t* pszProduct = nullptr;
    UINT cchProduct = 0;
    ASSERT_TRUE(::VerQueryValueW(info.data(), L"\\StringFileInfo\\080404b0\\ProductName",
                                 reinterpret_cast<void**>(&pszProduct), &cchProduct));
    EXPECT_STREQ(L"Fenmora", pszProduct);
}
