#include "system/InstalledRelease.h"

#include "log/Log.h"
#include "system/UninstallRegistration.h"

#include <windows.h>

#include <string>

namespace {

// Raises *pnSerial to the key's value; false when the value is unusable.
bool RaiseToSerialIn(const std::wstring& strKey, uint32_t* pnSerial)
{
    DWORD dwType = REG_NONE;
    LONG lStatus = ::RegGetValueW(HKEY_LOCAL_MACHINE, strKey.c_str(), kReleaseSerialValue, RRF_RT_ANY | RRF_NOEXPAND,
                                  &dwType, nullptr, nullptr);
    if (lStatus == ERROR_FILE_NOT_FOUND)
        return true;
    if (lStatus == ERROR_SUCCESS && dwType != REG_DWORD) {
        LogError(L"[CSetupDlg::CheckRelease] %ls in HKLM\\%ls is not a REG_DWORD (type %lu): refused",
                 kReleaseSerialValue, strKey.c_str(), static_cast<unsigned long>(dwType));
        return false;
    }
    DWORD dwSerial = 0;
    DWORD cbData = sizeof(dwSerial);
    if (lStatus == ERROR_SUCCESS)
        lStatus = ::RegGetValueW(HKEY_LOCAL_MACHINE, strKey.c_str(), kReleaseSerialValue, RRF_RT_REG_DWORD, nullptr,
                                 &dwSerial, &cbData);
    if (lStatus != ERROR_SUCCESS) {
        LogError(L"[CSetupDlg::CheckRelease] %ls in HKLM\\%ls cannot be read (error %ld): refused", kReleaseSerialValue,
                 strKey.c_str(), static_cast<long>(lStatus));
        return false;
    }
    if (dwSerial > *pnSerial)
        *pnSerial = dwSerial;
    return true;
}

LONG SetSerial(const std::wstring& strKey, uint32_t nSerial)
{
    const DWORD dwSerial = nSerial;
    return ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, strKey.c_str(), kReleaseSerialValue, REG_DWORD, &dwSerial,
                             sizeof(dwSerial));
}

}  // namespace

bool ReadInstalledReleaseSerial(uint32_t* pnSerial)
{
    *pnSerial = 0;
    return RaiseToSerialIn(UninstallKeyPath(), pnSerial) && RaiseToSerialIn(kReleaseSerialKey, pnSerial);
}

Result WriteInstalledReleaseSerial(uint32_t nSerial)
{
    const LONG lEntry = SetSerial(UninstallKeyPath(), nSerial);
    LogNormal(L"[CSetupDlg::WriteRegistry] %ls=%lu status=%ld", kReleaseSerialValue,
              static_cast<unsigned long>(nSerial), static_cast<long>(lEntry));
    const LONG lProduct = SetSerial(kReleaseSerialKey, nSerial);
    LogNormal(L"[CSetupDlg::WriteRegistry] HKLM\\%ls %ls=%lu status=%ld", kReleaseSerialKey, kReleaseSerialValue,
              static_cast<unsigned long>(nSerial), static_cast<long>(lProduct));
    if (lEntry != ERROR_SUCCESS)
        return Result::Failed(L"ReleaseSerial of the uninstall entry", static_cast<DWORD>(lEntry));
    if (lProduct != ERROR_SUCCESS)
        return Result::Failed(L"ReleaseSerial of the product key", static_cast<DWORD>(lProduct));
    return Result();
}
