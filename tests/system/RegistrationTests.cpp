#include "log/Log.h"
#include "system/InstallLocation.h"
#include "system/UninstallRegistration.h"
#include "tests/support/TempDir.h"
#include "tests/system/SystemTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::wstring kProductKey = UninstallKeyPath();

struct StoredValue {
    LONG lStatus = ERROR_FILE_NOT_FOUND;
    DWORD dwType = REG_NONE;
    DWORD cbData = 0;
    std::wstring strData;
};

StoredValue ReadStored(const wchar_t* pszName)
{
    StoredValue out;
    BYTE data[4096] = {};
    out.cbData = sizeof(data) - 2;
    out.lStatus =
        ::RegGetValueW(HKEY_LOCAL_MACHINE, kProductKey.c_str(), pszName, RRF_RT_ANY, &out.dwType, data, &out.cbData);
    out.strData = reinterpret_cast<const wchar_t*>(data);
    return out;
}

// Removes the product key before and after a test.
class CProductKeyGuard {
public:
    CProductKeyGuard() { Remove(); }
    ~CProductKeyGuard() { Remove(); }
    CProductKeyGuard(const CProductKeyGuard&) = delete;
    CProductKeyGuard& operator=(const CProductKeyGuard&) = delete;

private:
    static void Remove() { ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kProductKey.c_str()); }
};

}  // namespace

TEST(UninstallRegistration, ValuesForAnInstallFolder)
{
    struct Case {
        const wchar_t* pszSetup;
        const wchar_t* pszIcon;
        const wchar_t* pszLocation;
        const wchar_t* pszUninstall;
    };
    const Case cases[] = {
        {L"D:\\Apps\\Brivex Client", L"D:\\Apps\\Brivex Client\\iKVLRemote.exe", L"D:\\Apps\\Brivex Client\\",
         L"\"D:\\Apps\\Brivex Client\\UnInstall.exe\" \"D:\\Apps\\Brivex Client\""},
        // The fallback folder on a machine without C:.
        {L"D:\\Orvalis", L"D:\\Orvalis\\iKVLRemote.exe", L"D:\\Orvalis\\",
         L"\"D:\\Orvalis\\UnInstall.exe\" \"D:\\Orvalis\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.pszSetup));
        std::vector<UninstallValue> values = ComposeUninstallValues(c.pszSetup);
        ASSERT_EQ(values.size(), 8u);
        const wchar_t* names[] = {L"DisplayIcon",    L"AppExePath",      L"DisplayName",     L"Publisher",
                                  L"DisplayVersion", L"InstallLocation", L"UninstallString", L"QuietUninstallString"};
        const std::wstring strQuiet = std::wstring(c.pszUninstall) + L" /S";
        const wchar_t* data[] = {c.pszIcon,     L"iKVLRemote.exe", L"Fenmora",        L"Fenmora",
                                 L"2.0",        c.pszLocation,     c.pszUninstall,    strQuiet.c_str()};
        for (size_t i = 0; i < values.size(); ++i) {
            EXPECT_STREQ(values[i].pszName, names[i]);
            EXPECT_EQ(values[i].strData, data[i]);
        }
    }

    // A folder near the path limit gives an uninstall string of twice its
    // length, kept whole.
    std::wstring strLong = L"D:\\" + std::wstring(240, L'a');
    std::vector<UninstallValue> values = ComposeUninstallValues(strLong.c_str());
    EXPECT_EQ(values[6].strData, L"\"" + strLong + L"\\UnInstall.exe\" \"" + strLong + L"\"");
}

TEST(UninstallRegistration, WrittenToTheMachineHiveForTheFallbackFolder)
{
    CProductKeyGuard guard;
    // Values of an earlier install and one the key holds besides them.
    ASSERT_EQ(::RegSetKeyValueW(HKEY_LOCAL_MACHINE, kProductKey.c_str(), L"DisplayVersion", REG_SZ, L"1.0", 8),
              ERROR_SUCCESS);
    ASSERT_EQ(::RegSetKeyValueW(HKEY_LOCAL_MACHINE, kProductKey.c_str(), L"Comments", REG_SZ, L"kept", 10),
              ERROR_SUCCESS);

    CLogCapture logPathKeeper;
    // R: alone stands for a machine without C:. Settling moves the log, so
    // the capture starts after it.
    const wchar_t kDrives[] = L"R:\\\0";
    InstallLocation location;
    SettleDefaultLocation(kDrives, 4, &location);
    CLogCapture log;
    ASSERT_STREQ(location.szSetupPath, L"R:\\Orvalis");
    EXPECT_TRUE(WriteUninstallRegistration(location.szSetupPath, location.szUnInstallPath));
    CloseLogFile();
    RemoveTree(L"R:\\temp");

    for (const UninstallValue& want : ComposeUninstallValues(L"R:\\Orvalis")) {
        SCOPED_TRACE(Narrow(want.pszName));
        StoredValue got = ReadStored(want.pszName);
        ASSERT_EQ(got.lStatus, ERROR_SUCCESS);
        EXPECT_EQ(got.dwType, static_cast<DWORD>(REG_SZ));
        EXPECT_EQ(got.strData, want.strData);
        EXPECT_EQ(got.cbData, (want.strData.size() + 1) * 2) << "the length counts the terminator";
    }
    EXPECT_EQ(ReadStored(L"DisplayVersion").cbData, 8u);
    EXPECT_EQ(ReadStored(L"Comments").strData, L"kept");
    EXPECT_EQ(ReadStored(L"UninstallString").strData, L"\"R:\\Orvalis\\UnInstall.exe\" \"R:\\Orvalis\"");
    // The folder does not exist here: an empty installation.
    for (const wchar_t* pszName : {L"NoModify", L"NoRepair", L"EstimatedSize"}) {
        DWORD dwValue = 7;
        DWORD cbValue = sizeof(dwValue);
        ASSERT_EQ(::RegGetValueW(HKEY_LOCAL_MACHINE, kProductKey.c_str(), pszName, RRF_RT_REG_DWORD, nullptr, &dwValue,
                                 &cbValue),
                  ERROR_SUCCESS)
            << Narrow(pszName);
        EXPECT_EQ(dwValue, std::wstring(pszName) == L"EstimatedSize" ? 0u : 1u) << Narrow(pszName);
    }
    EXPECT_EQ(EstimatedSizeKB(0), 0u);
    EXPECT_EQ(EstimatedSizeKB(1), 1u);
    EXPECT_EQ(EstimatedSizeKB(2048), 2u);
    EXPECT_EQ(EstimatedSizeKB(2049), 3u);

    EXPECT_EQ(log.Count(L"[CSetupDlg::WriteRegistry]"), 1u);
    EXPECT_TRUE(log.Contains(L"[CSetupDlg::WriteRegistry] UninstallString \"R:\\Orvalis\\UnInstall.exe\" "
                             L"\"R:\\Orvalis\" m_szUnInstallPath=R:\\UnInstall Orvalis\r\n"))
        << Narrow(log.Text());
}
