#pragma once

#include <windows.h>

#include <string>

// Size of each remembered proxy credential array, terminator included;
// every caller's arrays take their size from it.
constexpr size_t kProxyCredentialChars = 64;

// Who answers a proxy's demand for credentials. The download only asks:
// whoever owns the user's screen shows the prompt, on its own thread.
class IProxyPrompt {
public:
    virtual ~IProxyPrompt() = default;
    // The entered user name and password; false when the user cancelled,
    // no prompt could be shown, or the download was stopped meanwhile.
    virtual bool AskCredentials(std::wstring* pstrUser, std::wstring* pstrPassword) = 0;
    // Tells the user the proxy refused the credentials; returns once the
    // notice is dismissed (or the download stopped).
    virtual void ShowCredentialsRefused() = 0;
};

// Copies an entry into a remembered credential array of
// kProxyCredentialChars units. A longer entry is cut to the first 63 units,
// one unit fewer when that would split a surrogate pair.
void StoreProxyCredential(wchar_t* szDest, const std::wstring& strEntry);
