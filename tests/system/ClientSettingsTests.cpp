#include "system/ClientSettings.h"
#include "tests/support/TempDir.h"
#include "tests/system/SystemTestSupport.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace {

// The settings file as text; the profile writer keeps a file's encoding,
// and the tests make and expect single-byte ones.
std::string ReadText(const std::wstring& strPath)
{
    std::vector<uint8_t> bytes = ReadFileBytes(strPath);
    return std::string(bytes.begin(), bytes.end());
}

size_t CountOf(const std::string& strText, const std::string& strPart)
{
    size_t n = 0;
    for (size_t pos = strText.find(strPart); pos != std::string::npos; pos = strText.find(strPart, pos + 1))
        ++n;
    return n;
}

class ClientSettings : public testing::Test {
protected:
    void SetUp() override
    {
        m_strSetup = m_dir / L"Brivex Client";
        ASSERT_TRUE(::CreateDirectoryW(m_strSetup.c_str(), nullptr));
        ASSERT_TRUE(::CreateDirectoryW((m_strSetup + L"\\config").c_str(), nullptr));
        m_strFile = m_strSetup + L"\\config\\ZUZ.System.config";
    }
    void Seed(const std::string& strText) { ASSERT_TRUE(WriteFileBytes(m_strFile, strText.data(), strText.size())); }
    std::wstring ReadVersion()
    {
        wchar_t sz[64] = {};
        ::GetPrivateProfileStringW(L"Client", L"Version", L"(none)", sz, 64, m_strFile.c_str());
        return sz;
    }

    CTempDir m_dir;
    std::wstring m_strSetup;
    std::wstring m_strFile;
};

}  // namespace

TEST_F(ClientSettings, VersionText)
{
    struct Case {
        int32_t nVersion;
        const wchar_t* pszText;
    };
    const Case cases[] = {{16, L"016"}, {5, L"005"}, {1234, L"1234"}, {0, L"000"}, {INT_MAX, L"2147483647"},
                          {INT_MIN, L"-2147483648"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.nVersion);
        ASSERT_TRUE(WriteClientSettings(m_strSetup.c_str(), c.nVersion));
        EXPECT_EQ(ReadVersion(), c.pszText);
    }
    EXPECT_EQ(CountOf(ReadText(m_strFile), "Version="), 1u) << "replaced, never added twice";
    EXPECT_EQ(CountOf(ReadText(m_strFile), "[Client]"), 1u);
}

TEST_F(ClientSettings, OtherSectionsAndKeysStay)
{
    Seed("[Server]\r\nHost=example\r\n[Client]\r\nVersion=009\r\nLanguage=zh\r\n[Window]\r\nWidth=800\r\n");
    ASSERT_TRUE(WriteClientSettings(m_strSetup.c_str(), 16));
    std::string strText = ReadText(m_strFile);
    EXPECT_NE(strText.find("Version=016"), std::string::npos) << strText;
    EXPECT_EQ(strText.find("Version=009"), std::string::npos);
    EXPECT_EQ(CountOf(strText, "Version="), 1u);
    for (const char* pszKept : {"[Server]", "Host=example", "Language=zh", "[Window]", "Width=800"})
        EXPECT_NE(strText.find(pszKept), std::string::npos) << pszKept;
    // The key is set inside [Client], not in another section.
    size_t nClient = strText.find("[Client]");
    size_t nWindow = strText.find("[Window]");
    size_t nVersion = strText.find("Version=016");
    EXPECT_TRUE(nClient < nVersion && nVersion < nWindow) << strText;
}

TEST_F(ClientSettings, MissingSectionIsAdded)
{
    Seed("[Server]\r\nHost=example\r\n");
    ASSERT_TRUE(WriteClientSettings(m_strSetup.c_str(), 16));
    std::string strText = ReadText(m_strFile);
    EXPECT_NE(strText.find("Host=example"), std::string::npos);
    EXPECT_EQ(ReadVersion(), L"016");
    size_t nClient = strText.find("[Client]");
    ASSERT_NE(nClient, std::string::npos) << strText;
    EXPECT_NE(strText.find("Version=016", nClient), std::string::npos);
}

TEST_F(ClientSettings, MissingConfigFolderIsNotCreated)
{
    ASSERT_TRUE(::RemoveDirectoryW((m_strSetup + L"\\config").c_str()));
    EXPECT_FALSE(WriteClientSettings(m_strSetup.c_str(), 16));
    EXPECT_FALSE(PathExists(m_strSetup + L"\\config"));
}
