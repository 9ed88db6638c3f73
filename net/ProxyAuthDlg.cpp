#include "net/ProxyAuthDlg.h"

#include "resources/resource.h"

#include <oleacc.h>

namespace {

struct FieldName {
    int nId;
    const wchar_t* pszName;
};
constexpr FieldName kFieldNames[] = {{IDC_PROXY_USER, L"名称"}, {IDC_PROXY_PASSWORD, L"密码"}};

}  // namespace

// The base class does the rest: OK saves the fields before ending with
// IDOK, and Escape or the close box end with IDCANCEL without saving.
CProxyAuthDlg::CProxyAuthDlg(HWND hWndParent) : CDialog(IDD_PROXY_AUTH, hWndParent) {}

CProxyAuthDlg::~CProxyAuthDlg() = default;

BOOL CProxyAuthDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    NameFields();
    // The user types the name first; Enter still answers OK, the default
    // button.
    ::SetFocus(::GetDlgItem(m_hWnd, IDC_PROXY_USER));
    return FALSE;
}

// Both labels precede both fields in the template, so a screen reader would
// name each field after the nearer label, "密码：". Each field is given its
// own name instead; the template's order, which is the tab order, stays.
void CProxyAuthDlg::NameFields()
{
    if (FAILED(::CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER, IID_IAccPropServices,
                                  reinterpret_cast<void**>(&m_pAccProps))))
        return;
    for (const FieldName& field : kFieldNames) {
        m_pAccProps->SetHwndPropStr(::GetDlgItem(m_hWnd, field.nId), static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                                    PROPID_ACC_NAME, field.pszName);
    }
}

bool CProxyAuthDlg::OnMessage(UINT uMsg, WPARAM, LPARAM, LRESULT*)
{
    // The names live with the fields, which go now.
    if (uMsg == WM_DESTROY && m_pAccProps) {
        for (const FieldName& field : kFieldNames) {
            m_pAccProps->ClearHwndProps(::GetDlgItem(m_hWnd, field.nId), static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF,
                                        &PROPID_ACC_NAME, 1);
        }
        m_pAccProps->Release();
        m_pAccProps = nullptr;
    }
    return false;
}

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
