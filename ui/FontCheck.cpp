#include "ui/FontCheck.h"

#include <windows.h>

#include <gdiplus.h>

#include <cwchar>
#include <memory>
#include <new>

namespace {

constexpr wchar_t kGroupFontFace[] = L"微软雅黑";
constexpr int kFamilyNameUnits = 128;

// What FindFontByGdi hands the enumeration: the face it looks for and
// whether it was seen.
struct FontSearch {
    LOGFONTW lf;
    int nFound;
};

int CALLBACK FontEnumProc(const LOGFONTW* plf, const TEXTMETRICW*, DWORD, LPARAM lParam)
{
    FontSearch* pSearch = reinterpret_cast<FontSearch*>(lParam);
    if (::lstrcmpiW(plf->lfFaceName, pSearch->lf.lfFaceName) == 0) {
        pSearch->nFound = 1;
        return 0;
    }
    return 1;
}

}  // namespace

bool IsFontInstalled()
{
    wchar_t szFace[LF_FACESIZE] = {};
    std::wcsncpy(szFace, kGroupFontFace, LF_FACESIZE - 1);
    // Both tests always run; both must find the face.
    bool bGdi = FindFontByGdi(szFace);
    bool bGdiplus = FindFontByGdiplus(szFace);
    return bGdi && bGdiplus;
}

bool FindFontByGdi(const wchar_t* pszFaceName)
{
    HWND hDesktop = ::GetDesktopWindow();
    HDC hdc = ::GetDC(hDesktop);
    if (!hdc)
        return false;
    FontSearch search = {};
    search.lf.lfCharSet = DEFAULT_CHARSET;
    std::wcsncpy(search.lf.lfFaceName, pszFaceName, LF_FACESIZE - 1);
    ::EnumFontFamiliesExW(hdc, &search.lf, reinterpret_cast<FONTENUMPROCW>(&FontEnumProc),
                          reinterpret_cast<LPARAM>(&search), 0);
    ::ReleaseDC(hDesktop, hdc);
    return search.nFound != 0;
}

bool FindFontByGdiplus(const wchar_t* pszFaceName)
{
    using namespace Gdiplus::DllExports;
    Gdiplus::GpFontCollection* pFonts = nullptr;
    if (GdipNewInstalledFontCollection(&pFonts) != Gdiplus::Ok)
        return false;
    INT nCount = 0;
    GdipGetFontCollectionFamilyCount(pFonts, &nCount);
    if (nCount <= 0)
        return false;
    // The families stay owned by the installed collection.
    std::unique_ptr<Gdiplus::GpFontFamily*[]> families(new (std::nothrow) Gdiplus::GpFontFamily*[nCount]());
    if (!families)
        return false;
    INT nFound = 0;
    GdipGetFontCollectionFamilyList(pFonts, nCount, families.get(), &nFound);
    for (INT i = 0; i < nFound; ++i) {
        wchar_t szName[kFamilyNameUnits] = {};
        if (GdipGetFamilyName(families[i], szName, LANG_NEUTRAL) == Gdiplus::Ok &&
            std::wcscmp(szName, pszFaceName) == 0)
            return true;
    }
    return false;
}
