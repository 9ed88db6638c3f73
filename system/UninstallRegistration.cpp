#include "system/UninstallRegistration.h"

#include "framework/ScopedHandle.h"
#include "log/Log.h"
#include "system/ClientFiles.h"

namespace {

constexpr wchar_t kDisplayVersion[] = L"2.0";
constexpr wchar_t kUninstallStringValue[] = L"UninstallString";

LONG SetStringValue(HKEY hKey, const UninstallValue& value)
{
    DWORD cbData = static_cast<DWORD>((value.strData.size() + 1) * sizeof(wchar_t));
    return ::RegSetValueExW(hKey, value.pszName, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.strData.c_str()),
                            cbData);
}

}  // namespace

std::vector<UninstallValue> ComposeUninstallValues(const wchar_t* pszSetupPath)
{
    const std::wstring strFolder = pszSetupPath ? pszSetupPath : L"";
    const std::wstring strUninstaller = strFolder + L"\\" + kUninstallerName;
    return {
        {L"DisplayIcon", strFolder + L"\\" + kClientProgramName},
        {L"AppExePath", kClientProgramName},
        {L"DisplayName", kDisplayName},
        {L"Publisher", kDisplayName},
        {L"DisplayVersion", kDisplayVersion},
        {L"InstallLocation", strFolder + L"\\"},
        {kUninstallStringValue, L"\"" + strUninstaller + L"\" \"" + strFolder + L"\""},
    };
}

LONG WriteUninstallRegistration(const wchar_t* pszSetupPath, const wchar_t* pszUnInstallPath)
{
    HKEY hParent = nullptr;
    LONG lStatus = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallParentKey, 0, KEY_WRITE, &hParent);
    if (lStatus != ERROR_SUCCESS)
        return lStatus;
    ScopedRegKey parent(hParent);

    HKEY hProduct = nullptr;
    lStatus = ::RegCreateKeyExW(parent.Get(), kUninstallKeyName, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &hProduct,
                                nullptr);
    if (lStatus != ERROR_SUCCESS)
        return lStatus;
    ScopedRegKey product(hProduct);

    LONG lFirstFailure = ERROR_SUCCESS;
    for (const UninstallValue& value : ComposeUninstallValues(pszSetupPath)) {
        if (value.pszName == kUninstallStringValue)
            LogNormal(L"[CSetupDlg::WriteRegistry] UninstallString %ls m_szUnInstallPath=%ls", value.strData.c_str(),
                      pszUnInstallPath ? pszUnInstallPath : L"");
        LONG lSet = SetStringValue(product.Get(), value);
        if (lSet != ERROR_SUCCESS && lFirstFailure == ERROR_SUCCESS)
            lFirstFailure = lSet;
    }
    return lFirstFailure;
}
