#include "zip/ZipFolder.h"

#include "zip/ZipItemName.h"

#include <windows.h>

#include <cwchar>
#include <string>

namespace {

void CreateIfMissing(const std::wstring& strPath, FolderSet* pKnown)
{
    if (strPath.empty() || strPath.size() >= MAX_PATH)
        return;
    if (pKnown && pKnown->count(strPath))
        return;
    if (::GetFileAttributesW(strPath.c_str()) != INVALID_FILE_ATTRIBUTES ||
        ::CreateDirectoryW(strPath.c_str(), nullptr)) {
        if (pKnown)
            pKnown->insert(strPath);
    }
}

}  // namespace

void EnsureFolderPath(const wchar_t* pszRoot, const wchar_t* pszPath, FolderSet* pKnown)
{
    std::wstring strRoot;
    if (pszRoot && pszRoot[0]) {
        strRoot = pszRoot;
        std::wstring strLast = strRoot;
        if (IsPathSeparator(strLast.back()))
            strLast.pop_back();
        CreateIfMissing(strLast, pKnown);
        if (!IsPathSeparator(strRoot.back()))
            strRoot += L'\\';
    }
    if (!pszPath || pszPath[0] == L'\0')
        return;

    // Every prefix that ends before a separator, then the whole path unless
    // a separator ends it: the last prefix was that folder.
    const size_t cchPath = std::wcslen(pszPath);
    for (size_t i = 1; i < cchPath; ++i)
        if (IsPathSeparator(pszPath[i]))
            CreateIfMissing(strRoot + std::wstring(pszPath, i), pKnown);
    if (!IsPathSeparator(pszPath[cchPath - 1]))
        CreateIfMissing(strRoot + pszPath, pKnown);
}
