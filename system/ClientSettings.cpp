#include "system/ClientSettings.h"

#include <windows.h>

#include <cwchar>

std::wstring ClientConfigPath(const wchar_t* pszSetupPath)
{
    return std::wstring(pszSetupPath ? pszSetupPath : L"") + L"/config/ZUZ.System.config";
}

Result WriteClientSettings(const wchar_t* pszSetupPath, int32_t nVersion)
{
    // Room for every 32-bit value, sign included.
    wchar_t szValue[16] = {};
    std::swprintf(szValue, 16, L"%03d", static_cast<int>(nVersion));
    if (!::WritePrivateProfileStringW(L"Client", L"Version", szValue, ClientConfigPath(pszSetupPath).c_str()))
        return Result::LastError(L"WritePrivateProfileString");
    return Result();
}
