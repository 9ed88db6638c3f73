#include "tests/engine/EngineTestSupport.h"

#include "log/Log.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cwchar>

namespace {

std::wstring Env(const wchar_t* pszName)
{
    const wchar_t* psz = _wgetenv(pszName);
    return psz ? psz : L"";
}

}  // namespace

std::wstring TestServerFolder()
{
    return Env(L"SETUP_TEST_HTTP_ROOT");
}

std::wstring TestServerBaseUrl()
{
    const std::wstring strPort = Env(L"SETUP_TEST_HTTP_PORT");
    return strPort.empty() ? L"" : L"http://127.0.0.1:" + strPort + L"/EX3/";
}

InstallSettings TestInstallSettings(const std::wstring& strRoot)
{
    InstallSettings settings;
    EXPECT_TRUE(LocationFromFolder(strRoot.c_str(), &settings.location));
    settings.strBaseUrl = TestServerBaseUrl();
    settings.setPackageGroups = {1, 2};
    settings.nAttempts = 1;
    return settings;
}

bool ServeFile(const std::wstring& strName, const std::vector<uint8_t>& data)
{
    const std::wstring strFolder = TestServerFolder() + L"\\EX3";
    ::CreateDirectoryW(strFolder.c_str(), nullptr);
    return WriteFileBytes(strFolder + L"\\" + strName, data.data(), data.size());
}

bool RemoveServedFile(const std::wstring& strName)
{
    const std::wstring strPath = TestServerFolder() + L"\\EX3\\" + strName;
    return ::DeleteFileW(strPath.c_str()) || !PathExists(strPath);
}

std::vector<uint8_t> ListBytes(const std::wstring& strText, bool bByteOrderMark)
{
    std::vector<uint8_t> bytes;
    if (bByteOrderMark)
        bytes = {0xFF, 0xFE};
    for (wchar_t ch : strText) {
        bytes.push_back(static_cast<uint8_t>(ch & 0xFF));
        bytes.push_back(static_cast<uint8_t>(ch >> 8));
    }
    return bytes;
}

std::string Noise(size_t cb, uint32_t nSeed)
{
    std::string str(cb, '\0');
    for (char& ch : str) {
        nSeed = nSeed * 1103515245u + 12345u;
        ch = static_cast<char>(nSeed >> 24);
    }
    return str;
}
