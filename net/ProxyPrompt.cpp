#include "net/ProxyPrompt.h"

#include <cwchar>

void StoreProxyCredential(wchar_t* szDest, const std::wstring& strEntry)
{
    size_t cch = strEntry.size();
    if (cch > kProxyCredentialChars - 1) {
        cch = kProxyCredentialChars - 1;
        if (IS_HIGH_SURROGATE(strEntry[cch - 1]))
            --cch;
    }
    std::wmemcpy(szDest, strEntry.data(), cch);
    szDest[cch] = L'\0';
}
