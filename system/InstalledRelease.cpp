#include "system/InstalledRelease.h"

#include "system/UninstallRegistration.h"

#include <string>

namespace {

std::wstring ProductKey()
{
    return std::wstring(kUninstallParentKey) + L"\\" + kUninstallKeyName;
}

}  // namespace

uint32_t ReadInstalledReleaseSerial()
{
    DWORD dwSerial = 0;
    DWORD cbData = sizeof(dwSerial);
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, ProductKey().c_str(), kReleaseSerialValue, RRF_RT_REG_DWORD, nullptr,
                       &dwSerial, &cbData) != ERROR_SUCCESS)
        return 0;
    return dwSerial;
}

LONG WriteInstalledReleaseSerial(uint32_t nSerial)
{
    const DWORD dwSerial = nSerial;
    return ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, ProductKey().c_str(), kReleaseSerialValue, REG_DWORD, &dwSerial,
                             sizeof(dwSerial));
}
