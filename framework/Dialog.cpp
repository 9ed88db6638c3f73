#include "framework/Dialog.h"

CDialog::CDialog(UINT nIDTemplate, HWND hWndParent) : m_nIDTemplate(nIDTemplate), m_hWndParent(hWndParent) {}

CDialog::~CDialog() = default;

INT_PTR CDialog::DoModal()
{
    return ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(m_nIDTemplate), m_hWndParent,
                             &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
}

void CDialog::EndDialog(INT_PTR nResult)
{
    if (m_hWnd)
        ::EndDialog(m_hWnd, nResult);
}

bool CDialog::UpdateData(bool bSaveAndValidate)
{
    return DoDataExchange(bSaveAndValidate);
}

BOOL CDialog::OnInitDialog()
{
    UpdateData(false);
    return TRUE;
}

bool CDialog::DoDataExchange(bool)
{
    return true;
}

void CDialog::OnOK()
{
    if (UpdateData(true))
        EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}

bool CDialog::OnMessage(UINT, WPARAM, LPARAM, LRESULT*)
{
    return false;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    CDialog* pThis = nullptr;
    if (uMsg == WM_INITDIALOG) {
        pThis = reinterpret_cast<CDialog*>(lParam);
        pThis->m_hWnd = hWnd;
        ::SetWindowLongPtrW(hWnd, DWLP_USER, reinterpret_cast<LONG_PTR>(pThis));
    } else {
        pThis = reinterpret_cast<CDialog*>(::GetWindowLongPtrW(hWnd, DWLP_USER));
    }
    if (!pThis)
        return FALSE;

    INT_PTR result = pThis->HandleMessage(uMsg, wParam, lParam);
    if (uMsg == WM_NCDESTROY) {
        ::SetWindowLongPtrW(hWnd, DWLP_USER, 0);
        pThis->m_hWnd = nullptr;
    }
    return result;
}

INT_PTR CDialog::HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    LRESULT lResult = 0;
    if (OnMessage(uMsg, wParam, lParam, &lResult)) {
        switch (uMsg) {
        // These return their result directly instead of through DWLP_MSGRESULT.
        case WM_INITDIALOG:
        case WM_CTLCOLORMSGBOX:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSCROLLBAR:
        case WM_CTLCOLORSTATIC:
        case WM_COMPAREITEM:
        case WM_VKEYTOITEM:
        case WM_CHARTOITEM:
        case WM_QUERYDRAGICON:
            return static_cast<INT_PTR>(lResult);
        default:
            ::SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, lResult);
            return TRUE;
        }
    }

    switch (uMsg) {
    case WM_INITDIALOG:
        return OnInitDialog();
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED || lParam == 0) {
            if (LOWORD(wParam) == IDOK) {
                OnOK();
                return TRUE;
            }
            if (LOWORD(wParam) == IDCANCEL) {
                OnCancel();
                return TRUE;
            }
        }
        break;
    default:
        break;
    }
    return FALSE;
}

void DdxText(HWND hDlg, int nID, wchar_t* pszBuffer, size_t cchBuffer, bool bSaveAndValidate)
{
    if (cchBuffer == 0)
        return;
    HWND hCtrl = ::GetDlgItem(hDlg, nID);
    if (bSaveAndValidate) {
        pszBuffer[0] = L'\0';
        if (hCtrl)
            ::GetWindowTextW(hCtrl, pszBuffer, static_cast<int>(cchBuffer));
        pszBuffer[cchBuffer - 1] = L'\0';
        return;
    }
    if (!hCtrl)
        return;
    ::SendMessageW(hCtrl, EM_LIMITTEXT, cchBuffer - 1, 0);
    ::SetWindowTextW(hCtrl, pszBuffer);
}

void DdxText(HWND hDlg, int nID, std::wstring& str, bool bSaveAndValidate)
{
    HWND hCtrl = ::GetDlgItem(hDlg, nID);
    if (!bSaveAndValidate) {
        if (hCtrl)
            ::SetWindowTextW(hCtrl, str.c_str());
        return;
    }
    str.clear();
    if (!hCtrl)
        return;
    int cch = ::GetWindowTextLengthW(hCtrl);
    if (cch <= 0)
        return;
    str.resize(static_cast<size_t>(cch) + 1);
    cch = ::GetWindowTextW(hCtrl, &str[0], cch + 1);
    str.resize(static_cast<size_t>(cch > 0 ? cch : 0));
}
