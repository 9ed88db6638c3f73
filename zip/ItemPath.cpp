#include "zip/ItemPath.h"

#include "zip/ItemNameRule.h"

#include <cstddef>
#include <cwchar>
#include <unordered_set>

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
            break;
        drop(static_cast<size_t>(pFound - pszName) + 4);
    }
    // A last "." names the folder it is in, which the name without it
    // names too: "dir/" a folder entry, "" the target folder itself.
    const size_t cch = std::wcslen(pszName);
    if (cch > 0 && pszName[cch - 1] == L'.' && (cch == 1 || IsPathSeparator(pszName[cch - 2])))
        pszName[cch - 1] = L'\0';
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

namespace {

// Scripts without case: their characters name themselves.
bool IsCaselessUnit(wchar_t ch)
{
    return (ch >= 0x3040 && ch <= 0x9FFF) || (ch >= 0xAC00 && ch <= 0xD7AF) || (ch >= 0xF900 && ch <= 0xFAFF);
}

// The name as the file system compares it, or false when that is not
// certain here.
bool TargetKey(const std::wstring& strName, std::wstring* pKey)
{
    if (ClassifyItemPath(strName.c_str()) != ItemPathKind::Relative)
        return false;
    pKey->clear();
    for (wchar_t ch : strName) {
        if (IsPathSeparator(ch)) {
            // A component Windows would trim ends in a dot or a blank.
            if (!pKey->empty() && (pKey->back() == L'.' || pKey->back() == L' '))
                return false;
            if (!pKey->empty() && pKey->back() != L'\\')
                pKey->push_back(L'\\');
            continue;
        }
        if (ch == L'~' || (ch >= 0x80 && !IsCaselessUnit(ch)))
            return false;
        pKey->push_back(ch >= L'a' && ch <= L'z' ? static_cast<wchar_t>(ch - L'a' + L'A') : ch);
    }
    if (!pKey->empty() && pKey->back() == L'\\')
        pKey->pop_back();
    return !pKey->empty() && pKey->back() != L'.' && pKey->back() != L' ';
}

}  // namespace

bool AreSeparateTargets(const std::vector<std::wstring>& names)
{
    std::unordered_set<std::wstring> files;
    std::unordered_set<std::wstring> folders;
    std::wstring strKey;
    for (const std::wstring& strName : names) {
        if (strName.empty())
            continue;
        if (!TargetKey(strName, &strKey))
            return false;
        const bool bFolder = IsPathSeparator(strName.back());
        for (size_t i = strKey.find(L'\\'); i != std::wstring::npos; i = strKey.find(L'\\', i + 1))
            folders.insert(strKey.substr(0, i));
        if (bFolder)
            folders.insert(strKey);
        else if (!files.insert(strKey).second)
            return false;
    }
    for (const std::wstring& strFolder : folders)
        if (files.count(strFolder))
            return false;
    return true;
}
