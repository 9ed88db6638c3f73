#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv)
{
    // A crash must fail the test run, not wait for a click on a dialog.
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    // Downloads go straight to the test servers. A proxy test that crashed
    // would otherwise leave the session's proxy pointing at a stopped squid
    // and fail every download of the test programs after it.
    HKEY hKey = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings", 0,
                        KEY_SET_VALUE, &hKey) == ERROR_SUCCESS) {
        DWORD dwOff = 0;
        ::RegSetValueExW(hKey, L"ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwOff), sizeof(dwOff));
        ::RegCloseKey(hKey);
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
