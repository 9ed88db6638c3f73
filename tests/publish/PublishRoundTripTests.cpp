// The publishing tool's output read back by the installer's own parts: the
// list parsers, the zip layer, and a whole install run against nginx
// serving the published tree, on both kinds of machine.
#include "engine/FileVerify.h"
#include "engine/InstallSession.h"
#include "engine/PackageList.h"
#include "tests/engine/EngineTestSupport.h"
#include "tests/support/TempDir.h"
#include "zip/Zip.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <cstdlib>
#include <cwchar>
#include <set>
#include <string>
#include <vector>

namespace {

std::wstring Env(const wchar_t* pszName)
{
    const wchar_t* psz = _wgetenv(pszName);
    return psz ? psz : L"";
}

// The tree the fixture published and the client folder it came from.
std::wstring Tree()
{
    return TestServerFolder() + L"\\EX3";
}

std::wstring Client(const std::wstring& strPath)
{
    return Env(L"PUBLISH_TEST_CLIENT") + L"\\" + strPath;
}

uint32_t Crc(const std::vector<uint8_t>& data)
{
    return static_cast<uint32_t>(crc32(0, data.data(), static_cast<uInt>(data.size())));
}

std::wstring Backslashed(std::wstring str)
{
    for (wchar_t& ch : str)
        if (ch == L'/')
            ch = L'\\';
    return str;
}

struct PublishedFile {
    const wchar_t* pszInstalled;
    const wchar_t* pszSource;
};

struct PublishedPackage {
    const wchar_t* pszName;
    int32_t nParam;
    int32_t nGroup;
    std::vector<PublishedFile> files;
};

// What roundtrip.ini describes.
const std::vector<PublishedPackage> kPackages = {
    {L"core.zip",
     1,
     1,
     {{L"iKVLRemote.exe", L"iKVLRemote.exe"},
      {L"favicon.ico", L"favicon.ico"},
      {L"config/ZUZ.System.config", L"config/ZUZ.System.config"},
      {L"data/big.bin", L"data/big.bin"},
      {L"empty.txt", L"empty.txt"},
      {L"文档/说明.txt", L"文档/说明.txt"}}},
    {L"skin-yahei.zip", 2, 2, {{L"skin/font.ini", L"skins/yahei.ini"}, {L"skin/readme.txt", L"skins/readme.txt"}}},
    {L"skin-simsun.zip", -7, 3, {{L"skin/font.ini", L"skins/simsun.ini"}, {L"skin/readme.txt", L"skins/readme.txt"}}},
    {L"patch.zip", 3, 1, {{L"文档/说明.txt", L"文档/说明-新.txt"}}},
};

// The verified files in list order, with the file whose content each ends
// up with.
const std::vector<PublishedFile> kVerified = {
    {L"iKVLRemote.exe", L"iKVLRemote.exe"}, {L"favicon.ico", L"favicon.ico"},
    {L"data\\big.bin", L"data/big.bin"},     {L"skin\\readme.txt", L"skins/readme.txt"},
    {L"文档\\说明.txt", L"文档/说明-新.txt"},
};

ULONGLONG Seconds(const FILETIME& ft)
{
    return ((static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime) / 10000000;
}

ULONGLONG LastWriteSeconds(const std::wstring& strPath)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!::GetFileAttributesExW(strPath.c_str(), GetFileExInfoStandard, &data))
        return 0;
    return Seconds(data.ftLastWriteTime);
}

}  // namespace

TEST(PublishRoundTrip, ListsReadBackByTheInstallersParsers)
{
    ASSERT_FALSE(TestServerFolder().empty()) << "SETUP_TEST_HTTP_ROOT is not set";
    const std::vector<uint8_t> list = ReadFileBytes(Tree() + L"\\divozira.txt");
    std::vector<PackageEntry> entries;
    ASSERT_EQ(ParsePackageList(ServerListText(list.data(), static_cast<int32_t>(list.size())), &entries),
              static_cast<int>(kPackages.size()));
    for (size_t i = 0; i < kPackages.size(); ++i) {
        EXPECT_STREQ(entries[i].szName, kPackages[i].pszName);
        EXPECT_EQ(entries[i].nParam, kPackages[i].nParam);
        EXPECT_EQ(entries[i].nGroup, kPackages[i].nGroup);
    }

    const std::vector<uint8_t> crcList = ReadFileBytes(Tree() + L"\\filecrc.txt");
    const std::vector<CrcListEntry> verified =
        ParseCrcList(ServerListText(crcList.data(), static_cast<int32_t>(crcList.size())));
    ASSERT_EQ(verified.size(), kVerified.size());
    for (size_t i = 0; i < kVerified.size(); ++i) {
        EXPECT_EQ(verified[i].strName, kVerified[i].pszInstalled);
        EXPECT_EQ(verified[i].nCrc, Crc(ReadFileBytes(Client(kVerified[i].pszSource))))
            << Narrow(kVerified[i].pszInstalled);
    }
}

TEST(PublishRoundTrip, PackagesReadBackByTheZipLayer)
{
    ASSERT_FALSE(TestServerFolder().empty()) << "SETUP_TEST_HTTP_ROOT is not set";
    for (const PublishedPackage& package : kPackages) {
        SCOPED_TRACE(Narrow(package.pszName));
        CTempDir target;
        ScopedZip zip(OpenZip((Tree() + L"\\" + package.pszName).c_str(), nullptr));
        ASSERT_TRUE(zip);
        ASSERT_EQ(SetZipTargetFolder(zip.Get(), target.Path().c_str()), ZIPERR_NONE);
        ZipItemInfo info = {};
        ASSERT_EQ(QueryZipItem(zip.Get(), -1, &info), ZIPERR_NONE);
        ASSERT_EQ(info.nIndex, static_cast<int32_t>(package.files.size()));
        for (size_t i = 0; i < package.files.size(); ++i) {
            const PublishedFile& file = package.files[i];
            SCOPED_TRACE(Narrow(file.pszInstalled));
            const std::vector<uint8_t> source = ReadFileBytes(Client(file.pszSource));
            ASSERT_EQ(QueryZipItem(zip.Get(), static_cast<int>(i), &info), ZIPERR_NONE);
            EXPECT_STREQ(info.szName, file.pszInstalled);
            EXPECT_EQ(info.dwAttributes, kZipAttrArchive);
            EXPECT_EQ(info.nUncompressedSize, source.size());
            // The installer skips entries without stored data.
            EXPECT_GT(info.nCompressedSize, 0u);
            EXPECT_EQ(Seconds(info.ftLastWrite), LastWriteSeconds(Client(file.pszSource)));
            ASSERT_EQ(UnzipItem(zip.Get(), static_cast<int>(i), info.szName), ZIPERR_NONE);
            EXPECT_TRUE(ReadFileBytes(target / Backslashed(file.pszInstalled)) == source);
        }
    }
}

class PublishRoundTripInstall : public testing::TestWithParam<int> {};

TEST_P(PublishRoundTripInstall, InstallsAndVerifies)
{
    const int nOwnGroup = GetParam();
    ASSERT_FALSE(TestServerBaseUrl().empty()) << "SETUP_TEST_HTTP_PORT is not set";
    CLogCapture log;
    CTempDir root;
    CRegistrationSandbox sandbox;
    ASSERT_TRUE(sandbox.Ready());
    CRecordingObserver observer;
    const std::wstring strSetup = root / L"Brivex Client";
    InstallSettings settings = TestInstallSettings(root.Path());
    settings.setPackageGroups = PackageGroupsFor(nOwnGroup == 2);
    ::CreateDirectoryW(settings.location.szTempPath, nullptr);
    {
        InstallSession session(settings, &observer);
        ASSERT_TRUE(session.Start());
        ASSERT_TRUE(session.Wait(120000));
        ASSERT_TRUE(session.Outcome().bSucceeded)
            << "the install failed; its errors: " << (observer.m_vecErrors.empty() ? "" : Narrow(observer.m_vecErrors[0]));
    }

    // What this kind of machine ends up with: later packages replace
    // earlier ones' files.
    std::vector<std::pair<std::wstring, std::wstring>> expected;
    for (const PublishedPackage& package : kPackages) {
        if (package.nGroup != 1 && package.nGroup != nOwnGroup)
            continue;
        for (const PublishedFile& file : package.files) {
            std::wstring strInstalled = Backslashed(file.pszInstalled);
            bool bReplaced = false;
            for (auto& earlier : expected)
                if (earlier.first == strInstalled)
                    earlier.second = file.pszSource, bReplaced = true;
            if (!bReplaced)
                expected.emplace_back(strInstalled, file.pszSource);
        }
    }
    expected.emplace_back(L"UnInstall.exe", L"");
    for (const auto& file : expected) {
        SCOPED_TRACE(Narrow(file.first));
        const std::vector<uint8_t> installed = ReadFileBytes(strSetup + L"\\" + file.first);
        // The settings file gets the client's version after the install.
        if (file.second.empty()) {
            EXPECT_TRUE(installed == ReadFileBytes(Env(L"UNINSTALLER_EXE")));
        } else if (file.first != L"config\\ZUZ.System.config") {
            EXPECT_TRUE(installed == ReadFileBytes(Client(file.second)));
        }
        EXPECT_TRUE(PathExists(strSetup + L"\\" + file.first));
    }
    const std::wstring strFont = ReadFileUtf16(strSetup + L"\\skin\\font.ini");
    EXPECT_NE(strFont.find(nOwnGroup == 2 ? L"Face=微软雅黑" : L"Face=宋体"), std::wstring::npos) << Narrow(strFont);
}

INSTANTIATE_TEST_SUITE_P(MachineKinds, PublishRoundTripInstall, testing::Values(2, 3),
                         [](const testing::TestParamInfo<int>& info) {
                             return info.param == 2 ? std::string("WithYaHei") : std::string("WithoutYaHei");
                         });
