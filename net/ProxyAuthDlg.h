#pragma once

#include "framework/Dialog.h"

#include <windows.h>

#include <string>

// The proxy authentication prompt: collects a proxy user name and password.
// Applying, remembering and refusing them belong to HttpDownload.
class CProxyAuthDlg : public CDialog {
public:
    explicit CProxyAuthDlg(HWND hWndParent = nullptr);
    ~CProxyAuthDlg() override;

    // Meaningful after DoModal returned IDOK.
    const std::wstring& GetProxyUser() const { return m_strUserName; }
    const std::wstring& GetProxyPassword() const { return m_strPassword; }

protected:
    bool DoDataExchange(bool bSaveAndValidate) override;

private:
    std::wstring m_strUserName;
    std::wstring m_strPassword;
};

// The prompt owned by hWndOwner, run modally on the calling thread, which
// must be the owner's; false unless it ended with OK.
bool RunProxyAuthPrompt(HWND hWndOwner, std::wstring* pstrUser, std::wstring* pstrPassword);
// The notice that the proxy refused the credentials, owned by hWndOwner;
// returns when dismissed.
void ShowProxyAuthRefused(HWND hWndOwner);
