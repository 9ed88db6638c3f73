#pragma once

#include "framework/Dialog.h"

#include <windows.h>

#include <string>

struct IAccPropServices;

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
    BOOL OnInitDialog() override;
    bool DoDataExchange(bool bSaveAndValidate) override;
    bool OnMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT* pResult) override;

private:
    void NameFields();

    std::wstring m_strUserName;
    std::wstring m_strPassword;
    // The screen readers' names of the two fields, kept while the prompt
    // is open; null on a thread without COM or a system without the service.
    IAccPropServices* m_pAccProps = nullptr;
};

// The prompt owned by hWndOwner, run modally on the calling thread, which
// must be the owner's (and in a COM apartment, for its fields' names);
// false unless it ended with OK.
bool RunProxyAuthPrompt(HWND hWndOwner, std::wstring* pstrUser, std::wstring* pstrPassword);
// The notice that the proxy refused the credentials, owned by hWndOwner;
// returns when dismissed.
void ShowProxyAuthRefused(HWND hWndOwner);
