#include "engine/FileVerify.h"
#include "engine/InstalledFiles.h"
#include "engine/PackageList.h"
#include "engine/HeldFiles.h"
#include "framework/ScopedHandle.h"
#include "tests/engine/EngineTestSupport.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

bool Contains(const std::vector<std::wstring>& lines, const std::wstring& strLine)
{
    return std::find(lines.begin(), lines.end(), strLine) != lines.end();
}

bool ContainsPart(const std::vector<std::wstring>& lines, const std::wstring& strPart)
{
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::wstring& strLine) { return strLine.find(strPart) != std::wstring::npos; });
}

uint32_t Crc(const std::string& str)
{
    return static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(str.data()), static_cast<uInt>(str.size())));
}

bool WriteText(const std::wstring& strPath, const std::string& str)
{
    return WriteFileBytes(strPath, str.data(), str.size());
}

class InstalledFiles : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(::CreateDirectoryW((m_install / L"config").c_str(), nullptr));
        ASSERT_TRUE(WriteText(m_install / L"iKVLRemote.exe", m_strExe));
        ASSERT_TRUE(WriteText(m_install / L"config\\client.ini", m_strIni));
        ASSERT_TRUE(WriteText(m_install / L"empty.txt", ""));
    }

    std::wstring SetupPath(const std::wstring& strName) const { return m_install.Path() + L"\\" + strName; }
    uint32_t FileCrc(const wchar_t* pszName) const { return GetFileCRC(m_install.Path().c_str(), pszName); }

    CLogCapture m_log;
    CTempDir m_install;
    const std::string m_strExe = Noise(70000, 1);
    const std::string m_strIni = "[Client]\r\nVersion=16\r\n";
};

}  // namespace

TEST(FileVerify, ParseCrcList)
{
    struct Case {
        const char* pszWhat;
        std::wstring strText;
        std::vector<std::pair<std::wstring, uint32_t>> entries;
    };
    const Case cases[] = {
        {"example",
         L"iKVLRemote.exe;1234\r\nconfig\\client.ini;5678\r\nreadme.txt;0\r\nfavicon.ico\r\na.dll;1;2\r\n",
         {{L"iKVLRemote.exe", 1234}, {L"config\\client.ini", 5678}}},
        {"empty, text and zero values skipped", L"a;\rb;x\rc;0\rd;00\re;7\r", {{L"e", 7}}},
        {"trailing letters", L"a;42abc\r", {{L"a", 42}}},
        {"value saturates", L"a;99999999999\r", {{L"a", 4294967295u}}},
        {"doubled and trailing separators", L"a;;5;\r", {{L"a", 5}}},
        {"leading separator", L";a;5\r", {}},
        {"empty first line", L"\r\na;5\r\n", {}},
        {"LF only, two lines", L"a;5\nb;6\n", {}},
        {"LF only, one line", L"a;5\n", {{L"a", 5}}},
        {"duplicates", L"a;5\ra;5", {{L"a", 5}, {L"a", 5}}},
        {"only malformed", L"x\ry;1;2\r;z;1", {}},
    };
    for (const Case& c : cases) {
        std::vector<std::pair<std::wstring, uint32_t>> got;
        for (const CrcListEntry& e : ParseCrcList(c.strText))
            got.emplace_back(e.strName, e.nCrc);
        EXPECT_EQ(got, c.entries) << c.pszWhat;
    }
}

TEST_F(InstalledFiles, GetFileCRC)
{
    ASSERT_TRUE(WriteText(m_install / L"check.txt", "123456789"));
    EXPECT_EQ(FileCrc(L"check.txt"), 0xCBF43926u);
    EXPECT_EQ(FileCrc(L"iKVLRemote.exe"), Crc(m_strExe));
    EXPECT_EQ(FileCrc(L"config\\client.ini"), Crc(m_strIni));
    EXPECT_EQ(FileCrc(L"CONFIG\\CLIENT.INI"), Crc(m_strIni));
    EXPECT_EQ(FileCrc(L"config/client.ini"), Crc(m_strIni));
    EXPECT_TRUE(m_log.Messages().empty());

    EXPECT_EQ(FileCrc(nullptr), 0u);
    EXPECT_EQ(FileCrc(L""), 0u);
    EXPECT_TRUE(m_log.Messages().empty());

    EXPECT_EQ(FileCrc(L"missing.dll"), 0u);
    EXPECT_TRUE(Contains(m_log.Messages(),
                         L"[Error][CAutoSetupDlg::GetFileCRC] open " + SetupPath(L"missing.dll") + L" failed"));
    // Names that leave the install folder or name a device are not opened,
    // even where a file is there. Windows drops trailing dots and blanks, so
    // ".. " and "..." climb too.
    ASSERT_TRUE(WriteText(m_install / L"..\\outside.txt", "123456789"));
    for (const wchar_t* pszName :
         {L"..\\outside.txt", L"config\\..\\..\\outside.txt", L"../outside.txt", L"\\outside.txt", L"C:outside.txt",
          L"check.txt:ads", L"config\\.. \\.. \\outside.txt", L"x/.. /a.txt", L".../outside.txt", L"con.txt",
          L"logs\\Aux.log", L"CON", L"a\\NUL", L"COM1", L"...", L".. ", L"a\\.. "}) {
        EXPECT_FALSE(IsNameInsideFolder(pszName)) << static_cast<int>(std::wcslen(pszName));
        EXPECT_EQ(FileCrc(pszName), 0u) << static_cast<int>(std::wcslen(pszName));
    }
    EXPECT_TRUE(IsNameInsideFolder(L"a..b\\..c\\d.."));
    EXPECT_EQ(FileCrc(L"empty.txt"), 0u);
    EXPECT_TRUE(Contains(m_log.Messages(), L"[Error][CAutoSetupDlg::GetFileCRC] " + SetupPath(L"empty.txt") + L" size=0"));

    // Opened without sharing: a file someone holds open cannot be read.
    {
        ScopedFile held(::CreateFileW(SetupPath(L"iKVLRemote.exe").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held);
        EXPECT_EQ(FileCrc(L"iKVLRemote.exe"), 0u);
    }

    const std::wstring strLong(MAX_PATH, L'n');
    m_log.Clear();
    EXPECT_EQ(FileCrc(strLong.c_str()), 0u);
    EXPECT_TRUE(Contains(m_log.Messages(),
                         L"[Error][CAutoSetupDlg::GetFileCRC] open " + SetupPath(strLong) + L" failed"));
}

TEST_F(InstalledFiles, LargeFileIsReadInPieces)
{
    const std::string strBig = Noise(12 * 1024 * 1024 + 3, 7);
    ASSERT_TRUE(WriteText(m_install / L"big.bin", strBig));
    EXPECT_EQ(FileCrc(L"big.bin"), Crc(strBig));
}

TEST_F(InstalledFiles, ShortReadFailsTheFile)
{
    // A kernel attribute file reports a page as its size but holds a few
    // bytes: the read comes back short.
    ScopedFile probe(::CreateFileW(L"Z:\\sys\\kernel\\uevent_seqnum", GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER size = {};
    if (!probe || !::GetFileSizeEx(probe.Get(), &size) || size.QuadPart <= 64)
        GTEST_SKIP() << "no kernel attribute file with a page-sized length here";
    probe.Reset();

    EXPECT_EQ(GetFileCRC(L"Z:\\sys\\kernel", L"uevent_seqnum"), 0u);
    EXPECT_TRUE(
        Contains(m_log.Messages(), L"[Error][CAutoSetupDlg::GetFileCRC] read Z:\\sys\\kernel\\uevent_seqnum failed"));
}

namespace {

class CrcListCheck : public InstalledFiles {
protected:
    std::wstring Line(const std::wstring& strName, uint32_t nCrc) const
    {
        return strName + L";" + std::to_wstring(nCrc) + L"\r\n";
    }
    int Verify(const std::vector<uint8_t>& list) const
    {
        return VerifyInstalledFiles(m_install.Path().c_str(),
                                    ServerListText(list.data(), static_cast<int32_t>(list.size())));
    }
};

}  // namespace

TEST_F(CrcListCheck, MatchingFilesPass)
{
    const std::wstring strText = L"readme.txt;0\r\nfavicon.ico\r\na.dll;1;2\r\nmissing.txt;\r\nmissing.txt;abc\r\n" +
                                 Line(L"iKVLRemote.exe", Crc(m_strExe)) + Line(L"CONFIG\\Client.INI", Crc(m_strIni));
    EXPECT_EQ(Verify(ListBytes(strText)), 1);
    const std::vector<std::wstring> log = m_log.Messages();
    EXPECT_TRUE(ContainsPart(log, L"[Normal][CAutoSetupDlg::CheckFileCRC] filecrc content readme.txt;0"));
    const std::wstring strExeCrc = std::to_wstring(Crc(m_strExe));
    EXPECT_TRUE(Contains(log, L"[Normal][CAutoSetupDlg::CheckFileCRC] iKVLRemote.exe loacalCRC=" + strExeCrc +
                                  L", netCRC=" + strExeCrc));
    EXPECT_FALSE(ContainsPart(log, L"[Error]"));
    EXPECT_FALSE(ContainsPart(log, L"missing.txt loacalCRC"));
}

TEST_F(CrcListCheck, Outcomes)
{
    const std::wstring strGood = Line(L"iKVLRemote.exe", Crc(m_strExe));
    std::vector<uint8_t> zeroFirst = ListBytes(L"");
    zeroFirst.insert(zeroFirst.end(), {0, 0, 'a', 0});
    struct Case {
        const char* pszWhat;
        std::vector<uint8_t> list;
        int nResult;
        std::vector<std::wstring> logged;
        std::wstring strNotLogged;
    };
    const Case cases[] = {
        {"only malformed lines", ListBytes(L"x\r\ny;1;2\r\nz;0\r\n"), 1, {}, L"[Error]"},
        {"missing file", ListBytes(Line(L"gone.dll", 5) + strGood), 0,
         {L"[Error][CAutoSetupDlg::GetFileCRC] open " + SetupPath(L"gone.dll") + L" failed",
          L"[Normal][CAutoSetupDlg::CheckFileCRC] gone.dll loacalCRC=0, netCRC=5",
          L"[Error][CAutoSetupDlg::CheckFileCRC] gone.dll GetCRC error"},
         L"iKVLRemote.exe loacalCRC"},
        {"empty file", ListBytes(Line(L"empty.txt", 5)), 0,
         {L"[Error][CAutoSetupDlg::GetFileCRC] " + SetupPath(L"empty.txt") + L" size=0",
          L"[Error][CAutoSetupDlg::CheckFileCRC] empty.txt GetCRC error"},
         L"CRC is not equal"},
        {"mismatch stops the check",
         ListBytes(Line(L"config\\client.ini", Crc(m_strIni) + 1) + Line(L"gone.dll", 5)), 0,
         {L"[Error][CAutoSetupDlg::CheckFileCRC] config\\client.ini CRC is not equal"}, L"gone.dll loacalCRC"},
        {"empty text", zeroFirst, 0, {L"[Error][CAutoSetupDlg::CheckFileCRC]filecrc.txt no content"},
         L"loacalCRC"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        m_log.Clear();
        EXPECT_EQ(Verify(c.list), c.nResult);
        const std::vector<std::wstring> log = m_log.Messages();
        for (const std::wstring& strLine : c.logged)
            EXPECT_TRUE(Contains(log, strLine)) << Narrow(strLine);
        EXPECT_FALSE(ContainsPart(log, c.strNotLogged)) << Narrow(c.strNotLogged);
    }
}

// Three threads read, the calling one logs: the lines come in list order up
// to the first failure, as if it had read every file itself.
TEST_F(CrcListCheck, LinesFollowTheListFromTheCallingThread)
{
    constexpr int kFiles = 60;
    constexpr int kMismatch = 45;
    std::wstring strText;
    for (int i = 0; i < kFiles; ++i) {
        const std::wstring strName = L"f" + std::to_wstring(i) + L".bin";
        const std::string strData = Noise(100 + 7 * static_cast<size_t>(i), static_cast<uint32_t>(i));
        ASSERT_TRUE(WriteText(m_install / strName, strData));
        strText += Line(strName, Crc(strData) + (i == kMismatch ? 1 : 0));
    }
    const std::vector<uint8_t> list = ListBytes(strText);
    EXPECT_EQ(VerifyInstalledFiles(m_install.Path().c_str(),
                                   ServerListText(list.data(), static_cast<int32_t>(list.size())), nullptr, 2),
              0);

    std::vector<std::wstring> checked;
    for (const std::wstring& strLine : m_log.Messages())
        if (strLine.find(L"loacalCRC") != std::wstring::npos || strLine.find(L"[Error]") == 0)
            checked.push_back(strLine.substr(0, strLine.find(L" loacalCRC")));
    std::vector<std::wstring> expected;
    for (int i = 0; i <= kMismatch; ++i)
        expected.push_back(L"[Normal][CAutoSetupDlg::CheckFileCRC] f" + std::to_wstring(i) + L".bin");
    expected.push_back(L"[Error][CAutoSetupDlg::CheckFileCRC] f" + std::to_wstring(kMismatch) +
                       L".bin CRC is not equal");
    EXPECT_EQ(checked, expected);

    wchar_t szThread[16];
    std::swprintf(szThread, 16, L":%04x]", static_cast<unsigned>(::GetCurrentThreadId()));
    EXPECT_EQ(m_log.Count(szThread), m_log.Count(L"[CAutoSetupDlg::CheckFileCRC]"));
}

// A file held open since its writing is read from its start through its
// own handle; one the list spells another way is opened once all are let
// go; one past the limit is not held.
TEST_F(CrcListCheck, HeldFilesAreReadFromTheirStart)
{
    const std::string strData = Noise(5000, 9);
    HeldFiles held(2);
    for (const wchar_t* pszName : {L"a.bin", L"b.bin", L"c.bin"}) {
        const std::wstring strPath = SetupPath(pszName);
        HANDLE h = ::CreateFileW(strPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        DWORD cb = 0;
        EXPECT_TRUE(::WriteFile(h, strData.data(), static_cast<DWORD>(strData.size()), &cb, nullptr));
        held.Keep(strPath, ScopedFile(h));
    }
    EXPECT_TRUE(ScopedFile(::CreateFileW(SetupPath(L"c.bin").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr)));
    const std::vector<uint8_t> list = ListBytes(Line(L"A.BIN", Crc(strData)) + Line(L".\\b.bin", Crc(strData)) +
                                                Line(L"c.bin", Crc(strData)));
    EXPECT_EQ(VerifyInstalledFiles(m_install.Path().c_str(),
                                   ServerListText(list.data(), static_cast<int32_t>(list.size())), nullptr, 0, &held),
              1);
    EXPECT_FALSE(ContainsPart(m_log.Messages(), L"[Error]"));
    EXPECT_FALSE(held.ReleaseAll());
}
