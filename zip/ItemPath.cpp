#include "zip/ItemPath.h"

#include "zip/ItemNameRule.h"

#include <cstddef>
#include <cwchar>

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
        if (IsRefusedComponent(p, static_cast<size_t>(pEnd - p)))
            return ItemPathKind::Refused;
        if (*pEnd == L'\0')
            return kind;
        p = pEnd + 1;
    }
}
