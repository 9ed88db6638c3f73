#include "net/ProxyAuthDlg.h"

#include "resources/resource.h"

// The base class does the rest: its OnInitDialog loads both (empty) members
// and leaves the focus on the OK button, OK saves the fields before ending
// with IDOK, and Escape or the close box end with IDCANCEL without saving.
CProxyAuthDlg::CProxyAuthDlg(HWND hWndParent) : CDialog(IDD_PROXY_AUTH, hWndParent) {}

CProxyAuthDlg::~CProxyAuthDlg() = default;

bool CProxyAuthDlg::DoDataExchange(bool bSaveAndValidate)
{
    DdxText(m_hWnd, IDC_PROXY_USER, m_strUserName, bSaveAndValidate);
    DdxText(m_hWnd, IDC_PROXY_PASSWORD, m_strPassword, bSaveAndValidate);
    return true;
}

bool RunProxyAuthPrompt(HWND hWndOwner, std::wstring* pstrUser, std::wstring* pstrPassword)
{
    CProxyAuthDlg dlg(hWndOwner);
    if (dlg.DoModal() != IDOK)
        return false;
    *pstrUser = dlg.GetProxyUser();
    *pstrPassword = dlg.GetProxyPassword();
    return true;
}

void ShowProxyAuthRefused(HWND hWndOwner)
{
    // The single word is the message, the sentence is the caption.
    ::MessageBoxW(hWndOwner, L"提示", L"用户名密码验证失败", MB_OK);
}
