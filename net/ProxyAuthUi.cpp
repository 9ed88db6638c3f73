#include "net/ProxyAuthUi.h"

#include "net/ProxyAuthDlg.h"

#include <cwchar>

namespace {

class CDialogProxyAuthUi : public IProxyAuthUi {
public:
    INT_PTR AskCredentials(HWND hWndOwner, std::wstring* pstrUser, std::wstring* pstrPassword) override
    {
        CProxyAuthDlg dlg(hWndOwner);
        INT_PTR nResult = dlg.DoModal();
        if (nResult == IDOK) {
            *pstrUser = dlg.GetProxyUser();
            *pstrPassword = dlg.GetProxyPassword();
        }
        return nResult;
    }

    void ShowCredentialsRefused(HWND hWndOwner) override
    {
        // The single word is the message, the sentence is the caption.
        ::MessageBoxW(hWndOwner, L"提示", L"用户名密码验证失败", MB_OK);
    }
};

CDialogProxyAuthUi g_defaultProxyAuthUi;
IProxyAuthUi* g_pProxyAuthUi = nullptr;

}  // namespace

IProxyAuthUi* SetProxyAuthUi(IProxyAuthUi* pUi)
{
    IProxyAuthUi* pOld = g_pProxyAuthUi;
    g_pProxyAuthUi = pUi;
    return pOld;
}

IProxyAuthUi& GetProxyAuthUi()
{
    return g_pProxyAuthUi ? *g_pProxyAuthUi : g_defaultProxyAuthUi;
}

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
