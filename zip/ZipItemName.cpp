#include "zip/ZipItemName.h"

#include <cstring>
#include <cwchar>
#include <cwctype>

bool ConvertItemName(const char* pName, size_t cbName, bool bUtf8, UINT nAnsiCodePage, wchar_t* pszOut)
{
    pszOut[0] = L'\0';
    cbName = strnlen(pName, cbName);
    if (cbName == 0)
        return true;
    if (cbName > kMaxStoredNameBytes)
        return false;
    int cch = ::MultiByteToWideChar(bUtf8 ? CP_UTF8 : nAnsiCodePage, 0, pName, static_cast<int>(cbName), pszOut,
                                    MAX_PATH - 1);
    if (cch <= 0) {
        pszOut[0] = L'\0';
        return false;
    }
    pszOut[cch] = L'\0';
    return true;
}

void CleanItemName(wchar_t* pszName)
{
    static const wchar_t* const kClimbs[] = {L"\\..\\", L"\\../", L"/../", L"/..\\"};
    auto drop = [pszName](size_t cch) { std::wmemmove(pszName, pszName + cch, std::wcslen(pszName + cch) + 1); };

    for (;;) {
        if (pszName[0] != L'\0' && pszName[1] == L':') {
            drop(2);
            continue;
        }
        if (pszName[0] == L'\\' || pszName[0] == L'/') {
            drop(1);
            continue;
        }
        const wchar_t* pFound = nullptr;
        for (const wchar_t* pszClimb : kClimbs) {
            pFound = std::wcsstr(pszName, pszClimb);
            if (pFound)
                break;
        }
        if (!pFound)
            return;
        drop(static_cast<size_t>(pFound - pszName) + 4);
    }
}

namespace {

bool EqualsNoCase(const wchar_t* p, size_t cch, const wchar_t* pszWord)
{
    size_t i = 0;
    for (; i < cch && pszWord[i]; ++i)
        if (std::towupper(p[i]) != std::towupper(pszWord[i]))
            return false;
    return i == cch && pszWord[i] == L'\0';
}

// Windows opens these names, with any extension and trailing blanks, as
// devices in every folder.
bool IsDeviceName(const wchar_t* pComponent, size_t cch)
{
    size_t cchBase = 0;
    while (cchBase < cch && pComponent[cchBase] != L'.')
        ++cchBase;
    while (cchBase > 0 && pComponent[cchBase - 1] == L' ')
        --cchBase;

    static const wchar_t* const kDevices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
    for (const wchar_t* pszDevice : kDevices)
        if (EqualsNoCase(pComponent, cchBase, pszDevice))
            return true;
    if (cchBase == 4 && (EqualsNoCase(pComponent, 3, L"COM") || EqualsNoCase(pComponent, 3, L"LPT"))) {
        wchar_t ch = pComponent[3];
        return (ch >= L'1' && ch <= L'9') || ch == L'\u00B9' || ch == L'\u00B2' || ch == L'\u00B3';
    }
    return false;
}

bool IsSafeComponent(const wchar_t* pComponent, size_t cch)
{
    if (cch == 0 || (cch == 1 && pComponent[0] == L'.'))
        return true;
    for (size_t i = 0; i < cch; ++i)
        if (pComponent[i] == L':')
            return false;
    // Windows drops trailing dots and blanks, so ".. " and "..." climb too.
    size_t cchKept = cch;
    while (cchKept > 0 && (pComponent[cchKept - 1] == L'.' || pComponent[cchKept - 1] == L' '))
        --cchKept;
    if (cchKept == 0)
        return false;
    return !IsDeviceName(pComponent, cch);
}

}  // namespace

ItemPathKind ClassifyItemPath(const wchar_t* pszPath)
{
    if (!pszPath || pszPath[0] == L'\0')
        return ItemPathKind::Refused;

    ItemPathKind kind = ItemPathKind::Relative;
    const wchar_t* p = pszPath;
    if (IsPathSeparator(p[0])) {
        kind = ItemPathKind::Absolute;
    } else if (p[1] == L':') {
        bool bDriveLetter = (p[0] >= L'A' && p[0] <= L'Z') || (p[0] >= L'a' && p[0] <= L'z');
        if (!bDriveLetter || !IsPathSeparator(p[2]))
            return ItemPathKind::Refused;
        kind = ItemPathKind::Absolute;
        p += 2;
    }

    for (;;) {
        const wchar_t* pEnd = p;
        while (*pEnd && !IsPathSeparator(*pEnd))
            ++pEnd;
        if (!IsSafeComponent(p, static_cast<size_t>(pEnd - p)))
            return ItemPathKind::Refused;
        if (*pEnd == L'\0')
            return kind;
        p = pEnd + 1;
    }
}
