#include "system/UninstallRegistration.h"

#include "framework/ScopedHandle.h"
#include "log/Log.h"
#include "system/ClientFiles.h"

#include <cwchar>

namespace {

constexpr wchar_t kDisplayVersion[] = L"2.0";
constexpr wchar_t kUninstallStringValue[] = L"UninstallString";
constexpr wchar_t kInstallLocationValue[] = L"InstallLocation";

LONG SetDwordValue(HKEY hKey, const wchar_t* pszName, DWORD dwValue)
{
    return ::RegSetValueExW(hKey, pszName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwValue), sizeof(dwValue));
}

// Bytes of the files below the folder; links are not followed.
ULONGLONG FolderBytes(const std::wstring& strFolder)
{
    if (strFolder.empty())
        return 0;
    WIN32_FIND_DATAW data;
    ScopedFind find(::FindFirstFileW((strFolder + L"\\*").c_str(), &data));
    if (!find)
        return 0;
    ULONGLONG ullBytes = 0;
    do {
        const std::wstring strName = data.cFileName;
        if (strName == L"." || strName == L".." || (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            ullBytes += FolderBytes(strFolder + L"\\" + strName);
        else
            ullBytes += (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    } while (::FindNextFileW(find.Get(), &data));
    return ullBytes;
}

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
        {kInstallLocationValue, strFolder + L"\\"},
        {kUninstallStringValue, L"\"" + strUninstaller + L"\" \"" + strFolder + L"\""},
        {L"QuietUninstallString", L"\"" + strUninstaller + L"\" \"" + strFolder + L"\" /S"},
    };
}

Result WriteUninstallRegistration(const wchar_t* pszSetupPath, const wchar_t* pszUnInstallPath)
{
    ScopedRegKey parent;
    LONG lStatus = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallParentKey, 0, KEY_WRITE, parent.Put());
    if (lStatus != ERROR_SUCCESS)
        return Result::Failed(L"RegOpenKeyEx", static_cast<DWORD>(lStatus));

    ScopedRegKey product;
    lStatus = ::RegCreateKeyExW(parent.Get(), kUninstallKeyName, 0, nullptr, 0, KEY_SET_VALUE, nullptr, product.Put(),
                                nullptr);
    if (lStatus != ERROR_SUCCESS)
        return Result::Failed(L"RegCreateKeyEx", static_cast<DWORD>(lStatus));

    Result firstFailure;
    const auto note = [&](LONG lSet, const wchar_t* pszName) {
        if (lSet != ERROR_SUCCESS && firstFailure)
            firstFailure = Result::Failed(pszName, static_cast<DWORD>(lSet));
    };
    for (const UninstallValue& value : ComposeUninstallValues(pszSetupPath)) {
        if (value.pszName == kUninstallStringValue)
            LogNormal(L"[CSetupDlg::WriteRegistry] UninstallString %ls m_szUnInstallPath=%ls", value.strData.c_str(),
                      pszUnInstallPath ? pszUnInstallPath : L"");
        note(SetStringValue(product.Get(), value), value.pszName);
    }
    const DWORD dwSizeKB = EstimatedSizeKB(FolderBytes(pszSetupPath ? pszSetupPath : L""));
    for (const auto& value : {std::make_pair(L"NoModify", DWORD{1}), std::make_pair(L"NoRepair", DWORD{1}),
                              std::make_pair(L"EstimatedSize", dwSizeKB)})
        note(SetDwordValue(product.Get(), value.first, value.second), value.first);
    return firstFailure;
}

std::wstring UninstallKeyPath()
{
    return std::wstring(kUninstallParentKey) + L"\\" + kUninstallKeyName;
}

DWORD EstimatedSizeKB(ULONGLONG ullBytes)
{
    const ULONGLONG ullKB = (ullBytes + 1023) / 1024;
    return ullKB > MAXDWORD ? MAXDWORD : static_cast<DWORD>(ullKB);
}

bool ReadRegisteredInstallLocation(std::wstring* pstrLocation)
{
    const std::wstring strKey = UninstallKeyPath();
    DWORD cbData = 0;
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, strKey.c_str(), kInstallLocationValue, RRF_RT_REG_SZ, nullptr, nullptr,
                       &cbData) != ERROR_SUCCESS)
        return false;
    std::wstring strData(cbData / sizeof(wchar_t) + 1, L'\0');
    cbData = static_cast<DWORD>(strData.size() * sizeof(wchar_t));
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, strKey.c_str(), kInstallLocationValue, RRF_RT_REG_SZ, nullptr, &strData[0],
                       &cbData) != ERROR_SUCCESS)
        return false;
    strData.resize(std::wcslen(strData.c_str()));
    *pstrLocation = strData;
    return true;
}

LONG RemoveUninstallRegistration()
{
    ScopedRegKey parent;
    LONG lStatus = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallParentKey, 0, KEY_ALL_ACCESS, parent.Put());
    if (lStatus != ERROR_SUCCESS)
        return lStatus;
    lStatus = ::RegDeleteTreeW(parent.Get(), kUninstallKeyName);
    return lStatus == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : lStatus;
}
