#include "zip/ZipItemName.h"

#include <cstring>

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
