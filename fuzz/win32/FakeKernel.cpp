#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <vector>

// What windows.h gives besides files: code pages and times.

// UTF-8 as Windows decodes it without MB_ERR_INVALID_CHARS (a byte that
// starts no sequence or a cut one is U+FFFD); the ANSI code page is taken
// as Latin-1, one unit a byte.
int MultiByteToWideChar(UINT nCodePage, DWORD, const char* pIn, int cbIn, wchar_t* pOut, int cchOut)
{
    const auto* p = reinterpret_cast<const uint8_t*>(pIn);
    std::vector<wchar_t> units;
    for (int i = 0; i < cbIn;) {
        uint32_t ch = p[i++];
        if (nCodePage == CP_UTF8 && ch >= 0x80) {
            static const uint32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
            const int cbMore = ch >= 0xF0 ? 3 : ch >= 0xE0 ? 2 : ch >= 0xC0 ? 1 : 0;
            uint32_t nValue = ch & (0x7Fu >> (cbMore + 1));
            int k = 0;
            for (; k < cbMore && i + k < cbIn && (p[i + k] & 0xC0) == 0x80; ++k)
                nValue = nValue << 6 | (p[i + k] & 0x3Fu);
            const bool bWhole = cbMore > 0 && k == cbMore && nValue >= kLeast[cbMore] && nValue <= 0x10FFFF &&
                                (nValue < 0xD800 || nValue > 0xDFFF);
            ch = bWhole ? nValue : 0xFFFD;
            i += bWhole ? k : 0;
        }
        if (ch >= 0x10000) {
            units.push_back(static_cast<wchar_t>(0xD800 + ((ch - 0x10000) >> 10)));
            units.push_back(static_cast<wchar_t>(0xDC00 + ((ch - 0x10000) & 0x3FF)));
        } else {
            units.push_back(static_cast<wchar_t>(ch));
        }
    }
    if (units.size() > static_cast<size_t>(cchOut)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::copy(units.begin(), units.end(), pOut);
    return static_cast<int>(units.size());
}

// Local time is UTC here.
BOOL TzSpecificLocalTimeToSystemTime(const TIME_ZONE_INFORMATION*, const SYSTEMTIME* pLocal, SYSTEMTIME* pUtc)
{
    *pUtc = *pLocal;
    return TRUE;
}

BOOL SystemTimeToFileTime(const SYSTEMTIME* pTime, FILETIME* pFileTime)
{
    static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const SYSTEMTIME& t = *pTime;
    if (t.wYear < 1601 || t.wMonth < 1 || t.wMonth > 12 || t.wDay < 1 || t.wDay > kDays[t.wMonth - 1] || t.wHour > 23 ||
        t.wMinute > 59 || t.wSecond > 59 || t.wMilliseconds > 999)
        return FALSE;
    // Days since 1601-01-01 by the civil calendar.
    const int64_t y = t.wMonth <= 2 ? t.wYear - 1 : t.wYear;
    const int64_t m = t.wMonth <= 2 ? t.wMonth + 9 : t.wMonth - 3;
    const int64_t nDays = 365 * y + y / 4 - y / 100 + y / 400 + (153 * m + 2) / 5 + t.wDay - 1 - 584694;
    const uint64_t n = static_cast<uint64_t>(((nDays * 24 + t.wHour) * 60 + t.wMinute) * 60 + t.wSecond) * 10000000u +
                       t.wMilliseconds * 10000u;
    pFileTime->dwLowDateTime = static_cast<DWORD>(n);
    pFileTime->dwHighDateTime = static_cast<DWORD>(n >> 32);
    return TRUE;
}
