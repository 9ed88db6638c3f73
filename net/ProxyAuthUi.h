#pragma once

#include <windows.h>

#include <string>

// Size of each remembered proxy credential array, terminator included;
// every caller's arrays take their size from it.
constexpr size_t kProxyCredentialChars = 64;

// How HttpDownload talks to the user about proxy credentials. The default
// runs CProxyAuthDlg owned by the given window and shows the refusal notice
// in a message box; tests put in their own to answer without a window.
class IProxyAuthUi {
public:
    virtual ~IProxyAuthUi() = default;
    // Returns the prompt's result: IDOK with the typed strings, any other
    // value when the user cancelled or the prompt could not be shown.
    virtual INT_PTR AskCredentials(HWND hWndOwner, std::wstring* pstrUser, std::wstring* pstrPassword) = 0;
    // Tells the user the proxy refused the credentials; returns when dismissed.
    virtual void ShowCredentialsRefused(HWND hWndOwner) = 0;
};

// Replaces the process-wide prompt; null puts the default back. Returns the
// one that was in place (null for the default).
IProxyAuthUi* SetProxyAuthUi(IProxyAuthUi* pUi);
IProxyAuthUi& GetProxyAuthUi();

// Copies an entry into a remembered credential array of
// kProxyCredentialChars units. A longer entry is cut to the first 63 units,
// one unit fewer when that would split a surrogate pair.
void StoreProxyCredential(wchar_t* szDest, const std::wstring& strEntry);
