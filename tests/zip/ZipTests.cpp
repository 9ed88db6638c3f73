#include "tests/support/TempDir.h"
#include "tests/zip/TestZip.h"
#include "zip/LittleEndian.h"
#include "zip/Zip.h"
#include "zip/ZipEndRecords.h"
#include "zip/ZipFolder.h"
#include "zip/ZipItemName.h"
#include "zip/ZipItemRecord.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

// Keeps what an archive writes, as the install run does, and notes what it
// is asked to let go; a name let go closes every kept file.
class CKeptFiles : public IWrittenFiles {
public:
    void Keep(const std::wstring& strPath, ScopedFile file) override { m_files.emplace_back(strPath, std::move(file)); }
    void LetGo(const std::wstring& strPath) override
    {
        m_letGo.push_back(strPath);
        m_files.clear();
    }
    void GiveUp() override { m_files.clear(); }

    std::vector<std::pair<std::wstring, ScopedFile>> m_files;
    std::vector<std::wstring> m_letGo;
};

std::wstring FromUtf8(const std::string& str)
{
    std::wstring out(str.size(), L'\0');
    int cch = ::MultiByteToWideChar(CP_UTF8, 0, str.data(), static_cast<int>(str.size()), &out[0],
                                    static_cast<int>(out.size()));
    out.resize(static_cast<size_t>(cch));
    return out;
}

uint64_t U64(const FILETIME& ft)
{
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

std::set<std::wstring> ListFolder(const std::wstring& strFolder)
{
    std::set<std::wstring> names;
    WIN32_FIND_DATAW fd;
    ScopedFind find(::FindFirstFileW((strFolder + L"\\*").c_str(), &fd));
    if (!find)
        return names;
    do {
        if (std::wcscmp(fd.cFileName, L".") != 0 && std::wcscmp(fd.cFileName, L"..") != 0)
            names.insert(fd.cFileName);
    } while (::FindNextFileW(find.Get(), &fd));
    return names;
}

std::string FileText(const std::wstring& strPath)
{
    std::vector<uint8_t> data = ReadFileBytes(strPath);
    return std::string(data.begin(), data.end());
}

// A raw deflate stream, as zip entries hold it.
std::string RawDeflate(const std::string& strData)
{
    z_stream zs = {};
    deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&zs, static_cast<uLong>(strData.size())), '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(strData.data()));
    zs.avail_in = static_cast<uInt>(strData.size());
    zs.next_out = reinterpret_cast<Bytef*>(&out[0]);
    zs.avail_out = static_cast<uInt>(out.size());
    deflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

uint32_t Crc(const std::string& str)
{
    return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(str.data()), static_cast<uInt>(str.size())));
}

// Letters from a small alphabet: compresses about 2:1, so a cut stream
// still decodes to many transfer buffers.
std::string Noise(size_t cb)
{
    std::string str(cb, '\0');
    uint32_t n = 12345;
    for (char& ch : str) {
        n = n * 1103515245u + 12345u;
        ch = static_cast<char>('a' + (n >> 24) % 16);
    }
    return str;
}

// Text that compresses but is not trivial.
std::string Pattern(size_t cb)
{
    std::string str;
    for (size_t i = 0; str.size() < cb; ++i)
        str += "line " + std::to_string(i * 7919 % 1000) + "\n";
    str.resize(cb);
    return str;
}

std::vector<uint8_t> Appended(std::vector<uint8_t> bytes, const std::string& strMore)
{
    bytes.insert(bytes.end(), strMore.begin(), strMore.end());
    return bytes;
}

constexpr int32_t kUnixWrite = 1600000000;
constexpr int32_t kUnixAccess = 1600000100;
constexpr int32_t kUnixCreation = 1500000000;

class ZipArchive : public testing::Test {
protected:
    std::wstring Write(const std::vector<TestZipEntry>& entries, const wchar_t* pszName = L"a.zip")
    {
        std::wstring strPath = m_dir / pszName;
        EXPECT_TRUE(WriteTestZip(strPath, entries));
        return strPath;
    }

    CTempDir m_dir;
};

}  // namespace

TEST(ZipNames, CleanItemName)
{
    struct Case {
        const wchar_t* pszIn;
        const wchar_t* pszOut;
    };
    const Case cases[] = {
        {L"C:/a.txt", L"a.txt"},
        {L"/a.txt", L"a.txt"},
        {L"x/../a.txt", L"a.txt"},
        {L"C:\\a.txt", L"a.txt"},
        {L"\\a.txt", L"a.txt"},
        {L"x\\..\\a.txt", L"a.txt"},
        {L"a/../b/c.txt", L"b/c.txt"},
        {L"C:/x/../y/../z.txt", L"z.txt"},
        {L"\\\\server\\a.txt", L"server\\a.txt"},
        {L"x\\../a", L"a"},
        {L"x/..\\a", L"a"},
        {L"C:D:/a", L"a"},
        // What the rules leave: climbs at the start, and a bare "..".
        {L"x/../../a.txt", L"../a.txt"},
        {L"x\\..\\..\\a.txt", L"..\\a.txt"},
        {L"..", L".."},
        {L"../a.txt", L"../a.txt"},
        {L"dir/", L"dir/"},
        {L"a", L"a"},
        {L"", L""},
        // A last "." is the folder it is in; elsewhere it stays.
        {L".", L""},
        {L"dir/.", L"dir/"},
        {L"dir\\.", L"dir\\"},
        {L"C:/.", L""},
        {L"./a", L"./a"},
        {L"a/.b", L"a/.b"},
    };
    for (const Case& c : cases) {
        wchar_t sz[MAX_PATH];
        std::wcscpy(sz, c.pszIn);
        CleanItemName(sz);
        EXPECT_STREQ(sz, c.pszOut) << Narrow(c.pszIn);
    }
}

TEST(ZipNames, ClassifyItemPath)
{
    struct Case {
        const wchar_t* pszPath;
        ItemPathKind kind;
    };
    const Case cases[] = {
        {L"a.txt", ItemPathKind::Relative},
        {L"dir/sub\\f.txt", ItemPathKind::Relative},
        {L"./a.txt", ItemPathKind::Relative},
        {L"a..b/..c/c..", ItemPathKind::Relative},
        {L"console.txt", ItemPathKind::Relative},
        {L"com10.txt", ItemPathKind::Relative},
        {L"nul_x/lpt.txt", ItemPathKind::Relative},
        {L"dir/", ItemPathKind::Relative},
        {L"C:\\out\\f.txt", ItemPathKind::Absolute},
        {L"c:/out/f.txt", ItemPathKind::Absolute},
        {L"/out/f.txt", ItemPathKind::Absolute},
        {L"\\\\server\\share\\f.txt", ItemPathKind::Absolute},
        {L"", ItemPathKind::Refused},
        {L"..", ItemPathKind::Refused},
        {L"../a.txt", ItemPathKind::Refused},
        {L"..\\a.txt", ItemPathKind::Refused},
        {L"x/../a.txt", ItemPathKind::Refused},
        {L"x/.. /a.txt", ItemPathKind::Refused},
        {L"x/.../a.txt", ItemPathKind::Refused},
        {L"C:\\out\\..\\f.txt", ItemPathKind::Refused},
        {L"C:x", ItemPathKind::Refused},
        {L"C:", ItemPathKind::Refused},
        {L"1:\\x", ItemPathKind::Refused},
        {L"f:ads", ItemPathKind::Refused},
        {L"dir/f:ads", ItemPathKind::Refused},
        {L"f.txt::$DATA", ItemPathKind::Refused},
        {L"CON", ItemPathKind::Refused},
        {L"nul.txt", ItemPathKind::Refused},
        {L"NUL .txt", ItemPathKind::Refused},
        {L"aux\\f", ItemPathKind::Refused},
        {L"dir/Com1.log", ItemPathKind::Refused},
        {L"lpt9", ItemPathKind::Refused},
        {L"COM\u00B9", ItemPathKind::Refused},
        {L"conout$", ItemPathKind::Refused},
        {L"prn.", ItemPathKind::Refused},
        {L"C:\\out\\con", ItemPathKind::Refused},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ClassifyItemPath(c.pszPath), c.kind) << Narrow(c.pszPath);
}

TEST(ZipNames, AreSeparateTargets)
{
    struct Case {
        std::vector<std::wstring> names;
        bool bSeparate;
    };
    const Case cases[] = {
        {{L"a.txt", L"dir/b.txt", L"dir/", L"dir\\sub\\c.txt", L""}, true},
        {{L"\u76ae\u80a4/a.png", L"\u5e2e\u52a9.ini"}, true},
        {{L"a.txt", L"A.TXT"}, false},
        {{L"dir/a.txt", L"dir\\a.txt"}, false},
        {{L"dir//a.txt", L"dir/a.txt"}, false},
        {{L"dir", L"dir/a.txt"}, false},
        {{L"dir/a.txt", L"dir"}, false},
        {{L"./a.txt", L"a.txt"}, false},
        {{L"a.txt.", L"b.txt"}, false},
        {{L"dir /a.txt", L"b.txt"}, false},
        {{L"\u00c4.txt", L"b.txt"}, false},
        {{L"LONGFI~1.TXT", L"longfilename.txt"}, false},
        {{L"C:\\a.txt", L"b.txt"}, false},
        {{L"../a.txt", L"b.txt"}, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(AreSeparateTargets(c.names), c.bSeparate) << Narrow(c.names.front().c_str());
}

TEST(ZipNames, ConvertItemName)
{
    wchar_t sz[MAX_PATH];
    const std::string strUtf8 = u8"目录/中文.txt";
    ASSERT_TRUE(ConvertItemName(strUtf8.data(), strUtf8.size(), true, 936, sz));
    EXPECT_EQ(std::wstring(sz), FromUtf8(strUtf8));
    // The same bytes without the flag are read in the ANSI code page.
    ASSERT_TRUE(ConvertItemName(strUtf8.data(), strUtf8.size(), false, 936, sz));
    EXPECT_NE(std::wstring(sz), FromUtf8(strUtf8));

    const char szGbk[] = "\xD6\xD0\xCE\xC4.txt";  // "中文.txt" in code page 936
    ASSERT_TRUE(ConvertItemName(szGbk, sizeof(szGbk) - 1, false, 936, sz));
    EXPECT_EQ(std::wstring(sz), FromUtf8(u8"中文.txt"));

    // The name ends at a zero byte.
    ASSERT_TRUE(ConvertItemName("a.txt\0../../x", 13, false, 936, sz));
    EXPECT_STREQ(sz, L"a.txt");

    std::string str259(259, 'n');
    ASSERT_TRUE(ConvertItemName(str259.data(), str259.size(), false, CP_ACP, sz));
    EXPECT_EQ(std::wcslen(sz), 259u);
    std::string str260(260, 'n');
    EXPECT_FALSE(ConvertItemName(str260.data(), str260.size(), false, CP_ACP, sz));
    EXPECT_STREQ(sz, L"");

    // 300 stored bytes that are 100 characters fit.
    std::string strLongUtf8;
    for (int i = 0; i < 100; ++i)
        strLongUtf8 += u8"中";
    ASSERT_TRUE(ConvertItemName(strLongUtf8.data(), strLongUtf8.size(), true, 936, sz));
    EXPECT_EQ(std::wcslen(sz), 100u);
}

TEST(ZipRecord, AttributesByHost)
{
    struct Case {
        uint8_t nHost;
        uint32_t nExternal;
        DWORD dwExpected;
    };
    const Case cases[] = {
        {0, 0x00000027, 0x27},
        {0, 0x000000FF, 0x37},
        {0, 0x00000010, 0x10},
        {11, 0x00000021, 0x21},
        {14, 0x00000006, 0x06},
        {7, 0x00000001, 0x01},
        // Unix: folder from S_IFDIR, read-only when the owner cannot write.
        {3, 0x81A40000, 0x20},
        {3, 0x81240000, 0x21},
        {3, 0x41ED0010, 0x30},
        {3, 0x41640000, 0x31},
        {3, 0x00000027, 0x21},
        {19, 0x81B60000, 0x20},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MapZipAttributes((static_cast<uint32_t>(c.nHost) << 8) | 20, c.nExternal), c.dwExpected)
            << "host " << int(c.nHost) << " attributes " << std::hex << c.nExternal;
}

TEST(ZipRecord, DosStampIsLocalTime)
{
    // 2021-06-15 13:28:30 as DOS date and time.
    FILETIME ft = DosStampToFileTime(0x52CF6B8F);
    SYSTEMTIME stUtc, stLocal;
    ASSERT_TRUE(::FileTimeToSystemTime(&ft, &stUtc));
    ASSERT_TRUE(::SystemTimeToTzSpecificLocalTime(nullptr, &stUtc, &stLocal));
    EXPECT_EQ(stLocal.wYear, 2021);
    EXPECT_EQ(stLocal.wMonth, 6);
    EXPECT_EQ(stLocal.wDay, 15);
    EXPECT_EQ(stLocal.wHour, 13);
    EXPECT_EQ(stLocal.wMinute, 28);
    EXPECT_EQ(stLocal.wSecond, 30);
    EXPECT_EQ(stLocal.wMilliseconds, 0);

    // Month 0 and day 0 are no date.
    EXPECT_EQ(U64(DosStampToFileTime(0)), 0u);
}

TEST(ZipRecord, UnixTime)
{
    EXPECT_EQ(U64(UnixTimeToFileTime(0)), 116444736000000000ull);
    EXPECT_EQ(U64(UnixTimeToFileTime(1700000000)), 133444736000000000ull);
    EXPECT_EQ(U64(UnixTimeToFileTime(-1)), 116444735990000000ull);
}

// minizip never looks at the first byte of the file and takes the last
// locator signature it finds: the archive is shown at least one byte on,
// and further when the offset the stand-in locator holds would spell one.
TEST(ZipRecord, StandInLocatorHoldsOneSignature)
{
    struct Case {
        bool bZip64;
        uint64_t nZip64Record;
        uint64_t nShift;
    };
    for (const Case& c : {Case{false, 0, 1}, Case{true, 1000, 1}, Case{true, 0x07064b50, 1}, Case{true, 0x07064b4f, 2},
                          Case{true, 0x07064b50ffULL, 1}, Case{true, 0x07064b4fffULL, 0x101}}) {
        ZipEndRecords records;
        records.bZip64 = c.bZip64;
        records.nZip64Record = c.nZip64Record;
        uint8_t locator[kZip64LocatorSize];
        EXPECT_EQ(MakeZip64Locator(records, locator), c.nShift) << std::hex << c.nZip64Record;
        int nSignatures = 0;
        for (size_t n = 0; n + 4 <= sizeof(locator); ++n)
            nSignatures += ReadLe32(locator + n) == 0x07064b50;
        EXPECT_EQ(nSignatures, 1) << std::hex << c.nZip64Record;
        EXPECT_EQ(ReadLe64(locator + 8), c.bZip64 ? c.nZip64Record + c.nShift : UINT64_MAX);
    }
}

TEST(ZipRecord, ExtendedTimestamps)
{
    const uint64_t kDos = 1;
    const uint64_t kWrite = U64(UnixTimeToFileTime(kUnixWrite));
    const uint64_t kAccess = U64(UnixTimeToFileTime(kUnixAccess));
    const uint64_t kCreation = U64(UnixTimeToFileTime(kUnixCreation));
    auto join = [](std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    auto cut = [](std::vector<uint8_t> a, size_t cb) {
        a.resize(cb);
        return a;
    };
    struct Case {
        const char* pszWhat;
        std::vector<uint8_t> field;
        uint64_t nWrite, nAccess, nCreation;
    };
    const Case cases[] = {
        {"write only", UtRecord(1, {kUnixWrite}), kWrite, kDos, kDos},
        {"all three", UtRecord(7, {kUnixWrite, kUnixAccess, kUnixCreation}), kWrite, kAccess, kCreation},
        {"write and access", UtRecord(3, {kUnixWrite, kUnixAccess}), kWrite, kAccess, kDos},
        {"write and creation", UtRecord(5, {kUnixWrite, kUnixCreation}), kWrite, kDos, kCreation},
        {"access only", UtRecord(2, {kUnixAccess}), kDos, kAccess, kDos},
        {"flags announce three, one present", UtRecord(7, {kUnixWrite}), kWrite, kDos, kDos},
        {"record longer than the field", UtRecord(7, {kUnixWrite, kUnixAccess}, 13), kWrite, kAccess, kDos},
        {"record declares less than it holds", UtRecord(3, {kUnixWrite, kUnixAccess}, 5), kWrite, kDos, kDos},
        {"flag byte only", UtRecord(1, {}), kDos, kDos, kDos},
        {"no data", UtRecord(1, {}, 0), kDos, kDos, kDos},
        {"after another record", join(ExtraRecord('u', 'x', 11), UtRecord(1, {kUnixWrite})), kWrite, kDos, kDos},
        {"first UT record only", join(UtRecord(1, {kUnixWrite}), UtRecord(2, {kUnixAccess})), kWrite, kDos, kDos},
        {"other records only", join(ExtraRecord('x', 'y', 3), ExtraRecord('U', 'U', 8)), kDos, kDos, kDos},
        {"other record overruns the field", cut(ExtraRecord('x', 'y', 40), 20), kDos, kDos, kDos},
        {"header without room for data", {'U', 'T', 9, 0}, kDos, kDos, kDos},
    };
    for (const Case& c : cases) {
        ZipItemInfo info = {};
        info.ftLastWrite = info.ftLastAccess = info.ftCreation = FILETIME{1, 0};
        ApplyExtendedTimestamps(c.field.data(), c.field.size(), &info);
        EXPECT_EQ(U64(info.ftLastWrite), c.nWrite) << c.pszWhat;
        EXPECT_EQ(U64(info.ftLastAccess), c.nAccess) << c.pszWhat;
        EXPECT_EQ(U64(info.ftCreation), c.nCreation) << c.pszWhat;
    }
}

TEST(ZipFolder, EnsureFolderPath)
{
    CTempDir dir;
    const std::wstring strRoot = dir / L"root";
    EnsureFolderPath((strRoot + L"/").c_str(), L"a/b\\c");
    EXPECT_TRUE(PathExists(strRoot + L"\\a\\b\\c"));

    // A file in the way is left alone; what lies below it cannot be made.
    ASSERT_TRUE(WriteFileBytes(strRoot + L"\\file", "x", 1));
    EnsureFolderPath(strRoot.c_str(), L"file/sub");
    EXPECT_EQ(FileText(strRoot + L"\\file"), "x");
    EXPECT_FALSE(PathExists(strRoot + L"\\file\\sub"));

    // Without a root the path is taken as it is.
    EnsureFolderPath(nullptr, (dir / L"abs\\x\\y").c_str());
    EXPECT_TRUE(PathExists(dir / L"abs\\x\\y"));

    // A joined path that does not fit is not cut short and created.
    std::wstring strLong = L"p/" + std::wstring(MAX_PATH, L'q');
    EnsureFolderPath(strRoot.c_str(), strLong.c_str());
    EXPECT_TRUE(PathExists(strRoot + L"\\p"));
    EXPECT_EQ(ListFolder(strRoot + L"\\p"), std::set<std::wstring>{});
}

TEST(ZipApi, NullHandle)
{
    ZipItemInfo info;
    std::memset(&info, 0x7F, sizeof(info));
    EXPECT_EQ(QueryZipItem(nullptr, 0, &info), ZIPERR_ARGS);
    EXPECT_EQ(info.nIndex, 0);
    EXPECT_EQ(info.szName[0], L'\0');
    EXPECT_EQ(info.nUncompressedSize, 0u);
    EXPECT_EQ(SetZipTargetFolder(nullptr, L"C:\\"), ZIPERR_ARGS);
    EXPECT_EQ(UnzipItem(nullptr, 0, L"a.txt"), ZIPERR_ARGS);
    EXPECT_EQ(ReleaseZip(nullptr), ZIPERR_ARGS);
}

TEST_F(ZipArchive, OpenRefusesWhatIsNoArchive)
{
    std::vector<TestZipEntry> entries(3);
    for (size_t i = 0; i < entries.size(); ++i) {
        entries[i].strName = "f" + std::to_string(i) + ".txt";
        entries[i].strData = Pattern(5000);
    }
    std::vector<uint8_t> bytes = ReadFileBytes(Write(entries));
    ASSERT_FALSE(bytes.empty());

    const size_t cuts[] = {10, 22, bytes.size() / 2};
    for (size_t nCut : cuts) {
        std::wstring strPath = m_dir / L"cut.zip";
        ASSERT_TRUE(WriteFileBytes(strPath, bytes.data(), bytes.size() - nCut));
        ZipHandle hZip = OpenZip(strPath.c_str(), nullptr);
        EXPECT_EQ(hZip, nullptr) << "cut by " << nCut;
        ReleaseZip(hZip);
    }

    // End records that disagree with the directory they describe, or with
    // each other: read as they say, some entries would be left out.
    auto counting = [&bytes](uint16_t nEntries) {
        std::vector<uint8_t> b = bytes;
        PutLe16(&b, b.size() - 22 + 8, nEntries);
        PutLe16(&b, b.size() - 22 + 10, nEntries);
        return b;
    };
    const std::pair<const char*, std::vector<uint8_t>> disagreeing[] = {
        {"end record counts one entry fewer", counting(2)},
        {"end record counts one entry more", counting(4)},
        {"zip64 end record counts one entry fewer", WithZip64EndRecords(bytes, 2, 0xFFFF)},
        {"end record counts other than the zip64 end record", WithZip64EndRecords(bytes, 3, 2)},
        {"bytes after an end record that counts one entry fewer", Appended(counting(2), "junk\n")},
    };
    for (const auto& c : disagreeing) {
        std::wstring strPath = m_dir / L"disagreeing.zip";
        ASSERT_TRUE(WriteFileBytes(strPath, c.second.data(), c.second.size()));
        ZipHandle hZip = OpenZip(strPath.c_str(), nullptr);
        EXPECT_EQ(hZip, nullptr) << c.first;
        ReleaseZip(hZip);
    }
    const char szText[] = "This is a text file, not an archive.\r\n";
    ASSERT_TRUE(WriteFileBytes(m_dir / L"text.zip", szText, sizeof(szText) - 1));
    EXPECT_EQ(OpenZip((m_dir / L"text.zip").c_str(), nullptr), nullptr);
    EXPECT_EQ(OpenZip((m_dir / L"missing.zip").c_str(), nullptr), nullptr);
    ASSERT_TRUE(WriteFileBytes(m_dir / L"empty.zip", "", 0));
    EXPECT_EQ(OpenZip((m_dir / L"empty.zip").c_str(), nullptr), nullptr);

    // An end record alone is an archive of no entries.
    std::vector<uint8_t> endOnly(22, 0);
    PutLe32(&endOnly, 0, 0x06054b50);
    ASSERT_TRUE(WriteFileBytes(m_dir / L"none.zip", endOnly.data(), endOnly.size()));
    ScopedZip none(OpenZip((m_dir / L"none.zip").c_str(), nullptr));
    ASSERT_TRUE(none);
    ZipItemInfo info;
    ASSERT_EQ(QueryZipItem(none.Get(), -1, &info), ZIPERR_NONE);
    EXPECT_EQ(info.nIndex, 0);
}

// Read through a handle that shares no writing: while it is open nobody
// can change or delete the archive, and the name is only a label.
TEST_F(ZipArchive, OpensThroughAHandleThatLocksTheArchive)
{
    std::vector<TestZipEntry> entries(1);
    entries[0].strName = "a.txt";
    entries[0].strData = "through the handle";
    const std::wstring strArchive = Write(entries);
    ScopedFile held(
        ::CreateFileW(strArchive.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    ::SetFilePointer(held.Get(), 7, nullptr, FILE_BEGIN);
    ScopedZip zip(OpenZipFromHandle(held.Get(), L"label-only.zip", nullptr));
    ASSERT_TRUE(zip);
    EXPECT_FALSE(ScopedFile(::CreateFileW(strArchive.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                          nullptr, OPEN_EXISTING, 0, nullptr)));
    EXPECT_FALSE(::DeleteFileW(strArchive.c_str()));
    const std::wstring strTarget = m_dir / L"t";
    ASSERT_EQ(SetZipTargetFolder(zip.Get(), strTarget.c_str()), ZIPERR_NONE);
    EXPECT_EQ(UnzipItem(zip.Get(), 0, L"a.txt"), ZIPERR_NONE);
    EXPECT_EQ(FileText(strTarget + L"\\a.txt"), "through the handle");
}

// A comment holds any bytes, those of zip64 end records too: only a locator
// right before the end record leads to a zip64 end record, and an end
// record in a comment that does not agree with what it points to is only
// a comment. Bytes after the end record are not the archive's, and bytes
// before it shift every offset (a self-extracting archive).
TEST_F(ZipArchive, BytesAroundTheRecordsAreNotEntries)
{
    std::vector<TestZipEntry> entries(3);
    for (size_t i = 0; i < entries.size(); ++i) {
        entries[i].strName = "f" + std::to_string(i) + ".txt";
        entries[i].strData = Pattern(3000 + i);
    }
    const std::vector<uint8_t> bytes = ReadFileBytes(Write(entries));
    ASSERT_FALSE(bytes.empty());
    const long nDirectory = CentralHeaderOffset(bytes, 0);
    ASSERT_GT(nDirectory, 0);
    const uint64_t cbDirectory = bytes.size() - 22 - static_cast<uint64_t>(nDirectory);
    // Records as a writer of zip64 archives puts them, here in the comment.
    auto commented = [&](std::vector<uint8_t> b) {
        const std::vector<uint8_t> comment =
            Zip64EndRecords(b.size(), entries.size(), cbDirectory, static_cast<uint64_t>(nDirectory));
        PutLe16(&b, b.size() - 2, static_cast<uint16_t>(comment.size()));
        b.insert(b.end(), comment.begin(), comment.end());
        return b;
    };
    // The same, and an end record after them that counts the entries of
    // the directory as the zip64 end record places it.
    auto tailInComment = [&](std::vector<uint8_t> b) {
        b = commented(b);
        std::vector<uint8_t> end(22, 0);
        PutLe32(&end, 0, 0x06054b50);
        PutLe16(&end, 8, static_cast<uint16_t>(entries.size()));
        PutLe16(&end, 10, static_cast<uint16_t>(entries.size()));
        PutLe32(&end, 12, 0xFFFFFFFF);
        PutLe32(&end, 16, 0xFFFFFFFF);
        PutLe16(&b, b.size() - 76 - 2, static_cast<uint16_t>(76 + end.size()));
        b.insert(b.end(), end.begin(), end.end());
        return b;
    };
    const std::vector<uint8_t> zip64 = WithZip64EndRecords(bytes, entries.size(), 0xFFFF);
    std::vector<uint8_t> prefixed(1000, 'x');
    prefixed.insert(prefixed.end(), bytes.begin(), bytes.end());
    const std::pair<const char*, std::vector<uint8_t>> cases[] = {
        {"archive", commented(bytes)},
        {"zip64 archive", commented(zip64)},
        {"archive, a zip64 tail in the comment", tailInComment(bytes)},
        {"zip64 archive, a zip64 tail in the comment", tailInComment(zip64)},
        {"archive, bytes after", Appended(bytes, "junk\n")},
        {"archive, bytes after the comment", Appended(commented(bytes), "junk\n")},
        {"zip64 archive, bytes after", Appended(zip64, "junk\n")},
        {"archive after a prefix its offsets do not count", prefixed},
    };
    for (const auto& c : cases) {
        const std::wstring strPath = m_dir / L"commented.zip";
        ASSERT_TRUE(WriteFileBytes(strPath, c.second.data(), c.second.size()));
        ScopedZip zip(OpenZip(strPath.c_str(), nullptr));
        EXPECT_TRUE(zip) << c.first;
        if (!zip)
            continue;
        ZipItemInfo info;
        ASSERT_EQ(QueryZipItem(zip.Get(), -1, &info), ZIPERR_NONE);
        EXPECT_EQ(info.nIndex, 3) << c.first;
        const std::wstring strTarget = m_dir / L"t";
        ASSERT_EQ(SetZipTargetFolder(zip.Get(), strTarget.c_str()), ZIPERR_NONE);
        for (int i = 0; i < info.nIndex; ++i) {
            ASSERT_EQ(UnzipItem(zip.Get(), i, L"f.txt"), ZIPERR_NONE) << c.first << " " << i;
            EXPECT_EQ(FileText(strTarget + L"\\f.txt"), entries[static_cast<size_t>(i)].strData) << c.first;
        }
    }
}

// minizip takes the last zip64 locator signature it finds. The offset in
// the locator it is handed may hold one: it still reads the directory that
// was checked, not one hidden in an entry's comment 76 bytes on, where the
// end record alone would place it. A sparse file puts the zip64 end record
// at such an offset without 112 MiB of bytes.
TEST_F(ZipArchive, DirectoryReadIsTheOneChecked)
{
    const uint32_t nZip64Record = 0x07064b50;
    const uint32_t nHiddenLocal = 128;
    std::vector<uint8_t> head = StoredLocalEntry("a.txt", "visible");
    head.resize(nHiddenLocal, 0);
    const std::vector<uint8_t> hidden = StoredLocalEntry("hidden.txt", "hidden");
    head.insert(head.end(), hidden.begin(), hidden.end());

    const std::vector<uint8_t> fake = StoredCentralHeader("hidden.txt", "hidden", nHiddenLocal - 76, "");
    const std::string strComment = std::string(25, 'c') + std::string(fake.begin(), fake.end());
    std::vector<uint8_t> tail = StoredCentralHeader("a.txt", "visible", 0, strComment);
    const uint32_t nDirectory = nZip64Record - static_cast<uint32_t>(tail.size());
    const std::vector<uint8_t> records = Zip64EndRecords(nZip64Record, 1, tail.size(), nDirectory);
    tail.insert(tail.end(), records.begin(), records.end());
    std::vector<uint8_t> end(22, 0);
    PutLe32(&end, 0, 0x06054b50);
    PutLe16(&end, 8, 1);
    PutLe16(&end, 10, 1);
    PutLe32(&end, 12, nZip64Record - nDirectory);
    PutLe32(&end, 16, nDirectory);
    tail.insert(tail.end(), end.begin(), end.end());

    const std::wstring strArchive = m_dir / L"sparse.zip";
    {
        ScopedFile file(::CreateFileW(strArchive.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
        ASSERT_TRUE(file);
        DWORD cbWritten = 0;
        ASSERT_TRUE(::WriteFile(file.Get(), head.data(), static_cast<DWORD>(head.size()), &cbWritten, nullptr));
        LARGE_INTEGER at;
        at.QuadPart = nDirectory;
        ASSERT_TRUE(::SetFilePointerEx(file.Get(), at, nullptr, FILE_BEGIN));
        ASSERT_TRUE(::WriteFile(file.Get(), tail.data(), static_cast<DWORD>(tail.size()), &cbWritten, nullptr));
    }
    ScopedZip zip(OpenZip(strArchive.c_str(), nullptr));
    ASSERT_TRUE(zip);
    ZipItemInfo info;
    ASSERT_EQ(QueryZipItem(zip.Get(), 0, &info), ZIPERR_NONE);
    EXPECT_STREQ(info.szName, L"a.txt");
    const std::wstring strTarget = m_dir / L"t";
    ASSERT_EQ(SetZipTargetFolder(zip.Get(), strTarget.c_str()), ZIPERR_NONE);
    EXPECT_EQ(UnzipItem(zip.Get(), 0, info.szName), ZIPERR_NONE);
    EXPECT_EQ(FileText(strTarget + L"\\a.txt"), "visible");
}

TEST_F(ZipArchive, QueryDescribesEntries)
{
    std::vector<TestZipEntry> entries(9);
    entries[0].strName = "dir/";
    entries[0].nMethod = 0;
    entries[0].nExternalAttributes = 0x10;
    entries[1].strName = "empty.txt";
    entries[1].nMethod = 0;
    entries[2].strName = "deflated-empty.txt";
    entries[3].strName = "dir/sub/f.txt";
    entries[3].strData = Pattern(40000);
    entries[3].nExternalAttributes = 0x21;
    entries[4].strName = "unix-ro.txt";
    entries[4].strData = "read only";
    entries[4].nHost = 3;
    entries[4].nExternalAttributes = 0x81240000;
    entries[5].strName = "ut1.txt";
    entries[5].localExtra = UtRecord(1, {kUnixWrite});
    entries[6].strName = "ut3.txt";
    entries[6].localExtra = UtRecord(7, {kUnixWrite, kUnixAccess, kUnixCreation});
    entries[7].strName = "C:/x/../y/../z.txt";
    entries[7].nDosStamp = 0;
    // A folder stored by name only, deflated, without the folder bit.
    entries[8].strName = "named-dir/";
    const std::wstring strArchive = Write(entries);

    ScopedZip zip(OpenZip(strArchive.c_str(), nullptr));
    ASSERT_TRUE(zip);
    ZipItemInfo info;
    std::memset(&info, 0x7F, sizeof(info));
    ASSERT_EQ(QueryZipItem(zip.Get(), -1, &info), ZIPERR_NONE);
    EXPECT_EQ(info.nIndex, 9);
    EXPECT_EQ(info.szName[0], L'\0');
    EXPECT_EQ(info.dwAttributes, 0u);
    EXPECT_EQ(U64(info.ftLastAccess) | U64(info.ftCreation) | U64(info.ftLastWrite), 0u);
    EXPECT_EQ(info.nCompressedSize | info.nUncompressedSize, 0u);

    const uint64_t kDos = U64(DosStampToFileTime(entries[0].nDosStamp));
    struct Expected {
        const wchar_t* pszName;
        DWORD dwAttributes;
        uint32_t nUncompressed;
        bool bStoredEmpty;
        uint64_t nWrite, nAccess, nCreation;
    };
    const Expected expected[] = {
        {L"dir/", 0x10, 0, true, kDos, kDos, kDos},
        {L"empty.txt", 0, 0, true, kDos, kDos, kDos},
        {L"deflated-empty.txt", 0, 0, false, kDos, kDos, kDos},
        {L"dir/sub/f.txt", 0x21, 40000, false, kDos, kDos, kDos},
        {L"unix-ro.txt", 0x21, 9, false, kDos, kDos, kDos},
        {L"ut1.txt", 0, 0, false, U64(UnixTimeToFileTime(kUnixWrite)), kDos, kDos},
        {L"ut3.txt", 0, 0, false, U64(UnixTimeToFileTime(kUnixWrite)), U64(UnixTimeToFileTime(kUnixAccess)),
         U64(UnixTimeToFileTime(kUnixCreation))},
        {L"z.txt", 0, 0, false, 0, 0, 0},
        {L"named-dir/", 0x10, 0, false, kDos, kDos, kDos},
    };
    // Backwards first: positioning rewinds.
    for (int i = 8; i >= 0; --i) {
        const Expected& e = expected[i];
        ASSERT_EQ(QueryZipItem(zip.Get(), i, &info), ZIPERR_NONE) << i;
        EXPECT_EQ(info.nIndex, i);
        EXPECT_STREQ(info.szName, e.pszName);
        EXPECT_EQ(info.dwAttributes, e.dwAttributes) << i;
        EXPECT_EQ(info.nUncompressedSize, e.nUncompressed) << i;
        EXPECT_EQ(info.nCompressedSize == 0, e.bStoredEmpty) << i;
        EXPECT_EQ(U64(info.ftLastWrite), e.nWrite) << i;
        EXPECT_EQ(U64(info.ftLastAccess), e.nAccess) << i;
        EXPECT_EQ(U64(info.ftCreation), e.nCreation) << i;
    }
    ZipItemInfo again;
    ASSERT_EQ(QueryZipItem(zip.Get(), 0, &again), ZIPERR_NONE);
    EXPECT_EQ(std::memcmp(&again, &info, sizeof(info)), 0);

    for (int nIndex : {9, -2, 1000}) {
        std::memset(&info, 0x7F, sizeof(info));
        EXPECT_EQ(QueryZipItem(zip.Get(), nIndex, &info), ZIPERR_ARGS);
        EXPECT_EQ(info.nIndex, 0);
        EXPECT_EQ(info.szName[0], L'\0');
        EXPECT_EQ(info.nUncompressedSize, 0u);
    }
    EXPECT_EQ(UnzipItem(zip.Get(), 9, L"x.txt"), ZIPERR_ARGS);
    EXPECT_EQ(UnzipItem(zip.Get(), -1, L"x.txt"), ZIPERR_ARGS);
}

TEST_F(ZipArchive, ExtractsFilesFoldersAndTimes)
{
    std::vector<TestZipEntry> entries(8);
    entries[0].strName = "a/b/c/";
    entries[0].nMethod = 0;
    entries[0].nExternalAttributes = 0x10;
    entries[1].strName = "empty.txt";
    entries[1].nMethod = 0;
    entries[2].strName = "deflated-empty.txt";
    entries[3].strName = "dir1/dir2/f.txt";
    entries[3].strData = Pattern(100000);
    entries[4].strName = "stored.txt";
    entries[4].nMethod = 0;
    entries[4].strData = Pattern(20000);
    entries[5].strName = "ut1.txt";
    entries[5].strData = "ut1";
    entries[5].localExtra = UtRecord(1, {kUnixWrite});
    entries[6].strName = "ut3.txt";
    entries[6].strData = "ut3";
    entries[6].localExtra = UtRecord(7, {kUnixWrite, kUnixAccess, kUnixCreation});
    entries[7].strName = u8"目录/中文.txt";
    entries[7].strData = "utf-8 name";
    entries[7].nFlags = 0x800;
    ScopedZip zip(OpenZip(Write(entries).c_str(), nullptr));
    ASSERT_TRUE(zip);

    // The target folder and its parent do not exist yet; the last level is made.
    const std::wstring strTarget = m_dir / L"target";
    ASSERT_EQ(SetZipTargetFolder(zip.Get(), strTarget.c_str()), ZIPERR_NONE);
    for (int i = 0; i < 8; ++i) {
        ZipItemInfo info;
        ASSERT_EQ(QueryZipItem(zip.Get(), i, &info), ZIPERR_NONE);
        EXPECT_EQ(UnzipItem(zip.Get(), i, info.szName), ZIPERR_NONE) << i;
    }
    EXPECT_TRUE(::GetFileAttributesW((strTarget + L"\\a\\b\\c").c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_TRUE(PathExists(strTarget + L"\\empty.txt"));
    EXPECT_TRUE(ReadFileBytes(strTarget + L"\\empty.txt").empty());
    EXPECT_TRUE(PathExists(strTarget + L"\\deflated-empty.txt"));
    EXPECT_TRUE(ReadFileBytes(strTarget + L"\\deflated-empty.txt").empty());
    EXPECT_EQ(FileText(strTarget + L"\\dir1\\dir2\\f.txt"), entries[3].strData);
    EXPECT_EQ(FileText(strTarget + L"\\stored.txt"), entries[4].strData);
    EXPECT_EQ(FileText(strTarget + L"\\" + FromUtf8(u8"目录\\中文.txt")), "utf-8 name");

    auto timesOf = [](const std::wstring& strPath, FILETIME* pWrite, FILETIME* pAccess) {
        ScopedFile file(
            ::CreateFileW(strPath.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        return file && ::GetFileTime(file.Get(), nullptr, pAccess, pWrite);
    };
    FILETIME ftWrite, ftAccess;
    ASSERT_TRUE(timesOf(strTarget + L"\\ut3.txt", &ftWrite, &ftAccess));
    EXPECT_EQ(U64(ftWrite), U64(UnixTimeToFileTime(kUnixWrite)));
    EXPECT_EQ(U64(ftAccess), U64(UnixTimeToFileTime(kUnixAccess)));
    ASSERT_TRUE(timesOf(strTarget + L"\\ut1.txt", &ftWrite, &ftAccess));
    EXPECT_EQ(U64(ftWrite), U64(UnixTimeToFileTime(kUnixWrite)));
    EXPECT_EQ(U64(ftAccess), U64(DosStampToFileTime(entries[5].nDosStamp)));
    ASSERT_TRUE(timesOf(strTarget + L"\\stored.txt", &ftWrite, &ftAccess));
    EXPECT_EQ(U64(ftWrite), U64(DosStampToFileTime(entries[4].nDosStamp)));
}

// Each folder is asked for once per archive; one removed between two
// entries is made again.
TEST_F(ZipArchive, FolderRemovedBetweenEntriesIsMadeAgain)
{
    std::vector<TestZipEntry> entries(2);
    entries[0].strName = "d/e/a.txt";
    entries[0].strData = "first";
    entries[1].strName = "d/e/b.txt";
    entries[1].strData = "second";
    ScopedZip zip(OpenZip(Write(entries).c_str(), nullptr));
    ASSERT_TRUE(zip);
    const std::wstring strTarget = m_dir / L"t";
    ASSERT_EQ(SetZipTargetFolder(zip.Get(), strTarget.c_str()), ZIPERR_NONE);
    ASSERT_EQ(UnzipItem(zip.Get(), 0, L"d/e/a.txt"), ZIPERR_NONE);
    ASSERT_TRUE(RemoveTree(strTarget + L"\\d"));

    EXPECT_EQ(UnzipItem(zip.Get(), 1, L"d/e/b.txt"), ZIPERR_NONE);
    EXPECT_EQ(FileText(strTarget + L"\\d\\e\\b.txt"), "second");
}

TEST_F(ZipArchive, TargetFolderSeparatorAndLimits)
{
    std::vector<TestZipEntry> entries(1);
    entries[0].strName = "dir1/dir2/f.txt";
    entries[0].strData = "content";
    const std::wstring strArchive = Write(entries);
    const std::pair<const wchar_t*, const wchar_t*> folders[] = {
        {L"plain", L""}, {L"backslash", L"\\"}, {L"slash", L"/"}};
    for (const auto& folder : folders) {
        const std::wstring strTarget = m_dir / folder.first;
        const wchar_t* pszSuffix = folder.second;
        ScopedZip zip(OpenZip(strArchive.c_str(), nullptr));
        ASSERT_TRUE(zip);
        ASSERT_EQ(SetZipTargetFolder(zip.Get(), (strTarget + pszSuffix).c_str()), ZIPERR_NONE);
        ASSERT_EQ(UnzipItem(zip.Get(), 0, L"dir1/dir2/f.txt"), ZIPERR_NONE);
        EXPECT_EQ(FileText(strTarget + L"\\dir1\\dir2\\f.txt"), "content") << Narrow(strTarget + pszSuffix);
    }

    // A folder that does not fit, or none, leaves the earlier one in place.
    ScopedZip zip(OpenZip(strArchive.c_str(), nullptr));
    ASSERT_TRUE(zip);
    const std::wstring strKept = m_dir / L"kept";
    ASSERT_EQ(SetZipTargetFolder(zip.Get(), strKept.c_str()), ZIPERR_NONE);
    EXPECT_EQ(SetZipTargetFolder(zip.Get(), (L"C:\\" + std::wstring(256, L'x')).c_str()), ZIPERR_ARGS);
    EXPECT_EQ(SetZipTargetFolder(zip.Get(), (L"C:\\" + std::wstring(256, L'x') + L"\\").c_str()), ZIPERR_ARGS);
    EXPECT_EQ(SetZipTargetFolder(zip.Get(), L""), ZIPERR_ARGS);
    EXPECT_EQ(SetZipTargetFolder(zip.Get(), nullptr), ZIPERR_ARGS);
    ASSERT_EQ(UnzipItem(zip.Get(), 0, L"f.txt"), ZIPERR_NONE);
    EXPECT_TRUE(PathExists(strKept + L"\\f.txt"));

    // An absolute target ignores the target folder.
    const std::wstring strAbsolute = m_dir / L"abs\\sub\\g.txt";
    ASSERT_EQ(UnzipItem(zip.Get(), 0, strAbsolute.c_str()), ZIPERR_NONE);
    EXPECT_EQ(FileText(strAbsolute), "content");
}

TEST_F(ZipArchive, ReplacesExistingFileAndAppliesAttributes)
{
    std::vector<TestZipEntry> entries(3);
    entries[0].strName = "plain.txt";
    entries[0].strData = "new";
    entries[0].nExternalAttributes = 0x20;
    entries[1].strName = "dos-ro.txt";
    entries[1].strData = "dos";
    entries[1].nExternalAttributes = 0x21;
    entries[2].strName = "unix-ro.txt";
    entries[2].strData = "unix";
    entries[2].nHost = 3;
    entries[2].nExternalAttributes = 0x81240000;
    ScopedZip zip(OpenZip(Write(entries).c_str(), nullptr));
    ASSERT_TRUE(zip);
    const std::wstring strTarget = m_dir / L"t";
    ASSERT_EQ(SetZipTargetFolder(zip.Get(), strTarget.c_str()), ZIPERR_NONE);

    ASSERT_TRUE(::CreateDirectoryW(strTarget.c_str(), nullptr));
    const std::string strOld(5000, 'o');
    ASSERT_TRUE(WriteFileBytes(strTarget + L"\\plain.txt", strOld.data(), strOld.size()));
    ASSERT_EQ(UnzipItem(zip.Get(), 0, L"plain.txt"), ZIPERR_NONE);
    EXPECT_EQ(FileText(strTarget + L"\\plain.txt"), "new");
    EXPECT_FALSE(::GetFileAttributesW((strTarget + L"\\plain.txt").c_str()) & FILE_ATTRIBUTE_READONLY);

    for (int i = 1; i <= 2; ++i) {
        ZipItemInfo info;
        ASSERT_EQ(QueryZipItem(zip.Get(), i, &info), ZIPERR_NONE);
        ASSERT_EQ(UnzipItem(zip.Get(), i, info.szName), ZIPERR_NONE);
        DWORD dw = ::GetFileAttributesW((strTarget + L"\\" + info.szName).c_str());
        EXPECT_TRUE(dw & FILE_ATTRIBUTE_READONLY) << Narrow(info.szName);
        EXPECT_EQ(FileText(strTarget + L"\\" + info.szName), entries[static_cast<size_t>(i)].strData);
    }
    // A file in use cannot be replaced.
    ScopedFile inUse(
        ::CreateFileW((strTarget + L"\\plain.txt").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(inUse);
    EXPECT_EQ(UnzipItem(zip.Get(), 1, L"plain.txt"), ZIPERR_OPEN);
    inUse.Reset();
    EXPECT_EQ(FileText(strTarget + L"\\plain.txt"), "new");

    // A file kept open for its check is let go before an entry replaces it;
    // the new one is kept, open for reading.
    CKeptFiles kept;
    ASSERT_EQ(KeepZipItemFiles(zip.Get(), &kept), ZIPERR_NONE);
    ASSERT_EQ(UnzipItem(zip.Get(), 2, L"sub/again.txt"), ZIPERR_NONE);
    ASSERT_EQ(kept.m_files.size(), 1u);
    ASSERT_EQ(UnzipItem(zip.Get(), 0, L"sub\\again.txt"), ZIPERR_NONE);
    ASSERT_EQ(kept.m_letGo.size(), 1u);
    EXPECT_EQ(kept.m_letGo[0].size() - kept.m_letGo[0].rfind(L"again.txt"), 9u) << "the replaced file";
    ASSERT_EQ(kept.m_files.size(), 1u);
    char szRead[8] = {};
    DWORD cbRead = 0;
    const LARGE_INTEGER start = {};
    HANDLE hAgain = kept.m_files[0].second.Get();
    ASSERT_TRUE(::SetFilePointerEx(hAgain, start, nullptr, FILE_BEGIN));
    EXPECT_TRUE(::ReadFile(hAgain, szRead, sizeof(szRead) - 1, &cbRead, nullptr));
    EXPECT_STREQ(szRead, "new");
}

TEST_F(ZipArchive, HostileNamesNeverLeaveTheTargetFolder)
{
    struct Case {
        const char* pszStored;
        const wchar_t* pszCleaned;
    };
    const Case cases[] = {
        {"../a.txt", L"../a.txt"},
        {"..", L".."},
        {"x/../../b.txt", L"../b.txt"},
        {"x\\..\\..\\c.txt", L"..\\c.txt"},
        {"../", L"../"},
        {"dir/f:ads", L"dir/f:ads"},
        {"CON", L"CON"},
        {"nul.txt", L"nul.txt"},
        {"aux\\f", L"aux\\f"},
        {"sub/com1.txt", L"sub/com1.txt"},
        {"sub/.. /d.txt", L"sub/.. /d.txt"},
        {"sub/.../e.txt", L"sub/.../e.txt"},
    };
    std::vector<TestZipEntry> entries;
    for (const Case& c : cases) {
        TestZipEntry e;
        e.strName = c.pszStored;
        e.strData = std::string("from ") + c.pszStored;
        entries.push_back(e);
    }
    TestZipEntry ok;
    ok.strName = "ok.txt";
    ok.strData = "ok";
    entries.push_back(ok);

    const std::wstring strOuter = m_dir / L"outer";
    const std::wstring strTarget = strOuter + L"\\t";
    ASSERT_TRUE(::CreateDirectoryW(strOuter.c_str(), nullptr));
    const std::wstring strArchive = Write(entries);
    ScopedZip zip(OpenZip(strArchive.c_str(), nullptr));
    ASSERT_TRUE(zip);
    ASSERT_EQ(SetZipTargetFolder(zip.Get(), strTarget.c_str()), ZIPERR_NONE);

    for (size_t i = 0; i < std::size(cases); ++i) {
        ZipItemInfo info;
        ASSERT_EQ(QueryZipItem(zip.Get(), static_cast<int>(i), &info), ZIPERR_NONE) << cases[i].pszStored;
        EXPECT_STREQ(info.szName, cases[i].pszCleaned);
        EXPECT_EQ(UnzipItem(zip.Get(), static_cast<int>(i), info.szName), ZIPERR_ARGS) << cases[i].pszStored;
    }
    // Names a caller might pass that Windows reads as a drive or a stream.
    const int nOk = static_cast<int>(std::size(cases));
    for (const wchar_t* pszTarget : {L"C:x", L"f:ads", L"ok.txt:ads", L"..\\e.txt", L"sub\\..\\..\\e.txt", L""})
        EXPECT_EQ(UnzipItem(zip.Get(), nOk, pszTarget), ZIPERR_ARGS) << Narrow(pszTarget);
    ASSERT_EQ(UnzipItem(zip.Get(), nOk, L"ok.txt"), ZIPERR_NONE);

    EXPECT_EQ(ListFolder(m_dir.Path()), (std::set<std::wstring>{L"a.zip", L"outer"}));
    EXPECT_EQ(ListFolder(strOuter), std::set<std::wstring>{L"t"});
    EXPECT_EQ(ListFolder(strTarget), std::set<std::wstring>{L"ok.txt"});
}

TEST_F(ZipArchive, LongNamesAndPaths)
{
    // The target folder as the layer stores it: the path and a "/".
    const std::wstring strTarget = m_dir / L"t";
    const size_t cchTarget = strTarget.size() + 1;
    ASSERT_LT(cchTarget + 10, 200u);
    const size_t cchFits = MAX_PATH - 1 - cchTarget;

    std::vector<TestZipEntry> entries(5);
    entries[0].strName = "d/" + std::string(cchFits - 2, 'f');
    entries[1].strName = "e/" + std::string(cchFits - 1, 'f');
    entries[2].strName = std::string(259, 'n');
    entries[3].strName = std::string(260, 'n');
    for (int i = 0; i < 90; ++i)
        entries[4].strName += u8"中";
    entries[4].nFlags = 0x800;
    for (TestZipEntry& e : entries)
        e.strData = "x";
    ScopedZip zip(OpenZip(Write(entries).c_str(), nullptr));
    ASSERT_TRUE(zip);
    ASSERT_EQ(SetZipTargetFolder(zip.Get(), strTarget.c_str()), ZIPERR_NONE);

    ZipItemInfo info;
    ASSERT_EQ(QueryZipItem(zip.Get(), 0, &info), ZIPERR_NONE);
    EXPECT_EQ(UnzipItem(zip.Get(), 0, info.szName), ZIPERR_NONE);
    EXPECT_EQ(FileText(strTarget + L"\\" + info.szName), "x");

    // One unit more does not fit; nothing of it is made.
    ASSERT_EQ(QueryZipItem(zip.Get(), 1, &info), ZIPERR_NONE);
    EXPECT_EQ(UnzipItem(zip.Get(), 1, info.szName), ZIPERR_OPEN);
    EXPECT_FALSE(PathExists(strTarget + L"\\e"));

    ASSERT_EQ(QueryZipItem(zip.Get(), 2, &info), ZIPERR_NONE);
    EXPECT_EQ(std::wcslen(info.szName), 259u);
    EXPECT_EQ(UnzipItem(zip.Get(), 2, info.szName), ZIPERR_OPEN);

    EXPECT_EQ(QueryZipItem(zip.Get(), 3, &info), ZIPERR_ARGS);
    EXPECT_EQ(info.szName[0], L'\0');
    EXPECT_EQ(UnzipItem(zip.Get(), 3, L"short.txt"), ZIPERR_ARGS);
    EXPECT_FALSE(PathExists(strTarget + L"\\short.txt"));

    // 270 stored bytes, 90 characters.
    ASSERT_EQ(QueryZipItem(zip.Get(), 4, &info), ZIPERR_NONE);
    EXPECT_EQ(std::wcslen(info.szName), 90u);
    EXPECT_EQ(UnzipItem(zip.Get(), 4, info.szName), ZIPERR_NONE);
    EXPECT_TRUE(PathExists(strTarget + L"\\" + info.szName));
}

TEST_F(ZipArchive, DamagedDataFailsTheEntryOnly)
{
    const std::string strBig = Noise(200000);
    const std::string strDeflated = RawDeflate(strBig);
    std::vector<TestZipEntry> entries(8);
    entries[0].strName = "garbage.bin";
    entries[0].strData = std::string(64, '\xFF');
    entries[0].bRaw = true;
    entries[0].nRawSize = 1000;
    entries[1].strName = "cut.bin";
    entries[1].strData = strDeflated.substr(0, strDeflated.size() / 2);
    entries[1].bRaw = true;
    entries[1].nRawSize = static_cast<uint32_t>(strBig.size());
    entries[1].nRawCrc = Crc(strBig);
    entries[2].strName = "short-stored.bin";
    entries[2].nMethod = 0;
    entries[2].strData = std::string(50, 's');
    entries[2].bRaw = true;
    entries[2].nRawSize = 100;
    entries[3].strName = "encrypted.bin";
    entries[3].nMethod = 0;
    entries[3].strData = std::string(40, 'e');
    entries[3].bRaw = true;
    entries[3].nRawSize = 28;
    entries[3].nFlags = 1;
    // A clean stream with a wrong CRC fails, and what it wrote is removed.
    entries[4].strName = "wrong-crc.bin";
    entries[4].strData = RawDeflate("payload");
    entries[4].bRaw = true;
    entries[4].nRawSize = 7;
    entries[4].nRawCrc = 12345;
    entries[5].strName = "good.txt";
    entries[5].strData = "good";
    entries[6].strName = "long-stream.bin";
    entries[6].strData = RawDeflate("0123456789");
    entries[6].bRaw = true;
    entries[6].nRawSize = 20;
    entries[6].nRawCrc = Crc("0123456789");
    // An empty final block: the stream ends before the one byte announced.
    entries[7].strName = "empty-stream.bin";
    entries[7].strData = std::string("\x03\x00", 2);
    entries[7].bRaw = true;
    entries[7].nRawSize = 1;
    entries[7].nRawCrc = 0x12345678;
    ScopedZip zip(OpenZip(Write(entries).c_str(), nullptr));
    ASSERT_TRUE(zip);
    const std::wstring strTarget = m_dir / L"t";
    ASSERT_EQ(SetZipTargetFolder(zip.Get(), strTarget.c_str()), ZIPERR_NONE);

    EXPECT_EQ(UnzipItem(zip.Get(), 0, L"garbage.bin"), ZIPERR_INFLATE);
    EXPECT_EQ(UnzipItem(zip.Get(), 5, L"good.txt"), ZIPERR_NONE);
    EXPECT_EQ(UnzipItem(zip.Get(), 1, L"cut.bin"), ZIPERR_INFLATE);
    // What was written before the failure stays.
    std::vector<uint8_t> partial = ReadFileBytes(strTarget + L"\\cut.bin");
    EXPECT_GT(partial.size(), 0u);
    EXPECT_LT(partial.size(), strBig.size());
    EXPECT_TRUE(std::equal(partial.begin(), partial.end(), strBig.begin()));
    EXPECT_EQ(UnzipItem(zip.Get(), 2, L"short-stored.bin"), ZIPERR_INFLATE);
    EXPECT_EQ(UnzipItem(zip.Get(), 3, L"encrypted.bin"), ZIPERR_PASSWORD);
    EXPECT_EQ(UnzipItem(zip.Get(), 4, L"wrong-crc.bin"), ZIPERR_CORRUPT);
    EXPECT_FALSE(PathExists(strTarget + L"\\wrong-crc.bin"));
    // A deflate stream that ends before the announced size is no file of
    // that size, whatever CRC it has.
    EXPECT_EQ(UnzipItem(zip.Get(), 6, L"long-stream.bin"), ZIPERR_CORRUPT);
    EXPECT_FALSE(PathExists(strTarget + L"\\long-stream.bin"));
    EXPECT_EQ(UnzipItem(zip.Get(), 7, L"empty-stream.bin"), ZIPERR_CORRUPT);
    EXPECT_FALSE(PathExists(strTarget + L"\\empty-stream.bin"));
    EXPECT_EQ(UnzipItem(zip.Get(), 5, L"good-again.txt"), ZIPERR_NONE);
    EXPECT_EQ(FileText(strTarget + L"\\good-again.txt"), "good");
}

TEST_F(ZipArchive, RecordsThatCannotBeReadAreNotActedOn)
{
    std::vector<TestZipEntry> entries(6);
    for (size_t i = 0; i < entries.size(); ++i) {
        entries[i].strName = "f" + std::to_string(i) + ".txt";
        entries[i].strData = Pattern(3000);
    }
    // 3 and 4: data under a name that is empty or cleans to nothing.
    entries[3].strName = "";
    entries[4].strName = "C:/";
    std::vector<uint8_t> bytes = ReadFileBytes(Write(entries));
    ASSERT_FALSE(bytes.empty());
    // 0: local CRC differs. 1: method 12 in both headers. 5 (last): a local
    // extra field that runs past the end of the file.
    const long nLocal0 = LocalHeaderOffset(bytes, 0);
    const long nLocal1 = LocalHeaderOffset(bytes, 1);
    const long nCentral1 = CentralHeaderOffset(bytes, 1);
    const long nLocal5 = LocalHeaderOffset(bytes, 5);
    ASSERT_TRUE(nLocal0 >= 0 && nLocal1 > 0 && nCentral1 > 0 && nLocal5 > 0);
    PutLe32(&bytes, static_cast<size_t>(nLocal0) + 14, 0xDEADBEEF);
    PutLe16(&bytes, static_cast<size_t>(nLocal1) + 8, 12);
    PutLe16(&bytes, static_cast<size_t>(nCentral1) + 10, 12);
    PutLe16(&bytes, static_cast<size_t>(nLocal5) + 28, 0xFFFF);
    const std::wstring strArchive = m_dir / L"damaged.zip";
    ASSERT_TRUE(WriteFileBytes(strArchive, bytes.data(), bytes.size()));

    ScopedZip zip(OpenZip(strArchive.c_str(), nullptr));
    ASSERT_TRUE(zip);
    const std::wstring strTarget = m_dir / L"t";
    ASSERT_EQ(SetZipTargetFolder(zip.Get(), strTarget.c_str()), ZIPERR_NONE);
    struct Case {
        int nIndex;
        int nResult;
    };
    for (const Case& c : {Case{0, ZIPERR_CORRUPT}, Case{1, ZIPERR_CORRUPT}, Case{3, ZIPERR_ARGS}, Case{4, ZIPERR_ARGS},
                          Case{5, ZIPERR_READ}}) {
        ZipItemInfo info;
        std::memset(&info, 0x7F, sizeof(info));
        EXPECT_EQ(QueryZipItem(zip.Get(), c.nIndex, &info), c.nResult) << c.nIndex;
        EXPECT_EQ(info.szName[0], L'\0');
        EXPECT_EQ(UnzipItem(zip.Get(), c.nIndex, L"out.txt"), c.nResult) << c.nIndex;
        EXPECT_FALSE(PathExists(strTarget + L"\\out.txt")) << c.nIndex;
    }
    ZipItemInfo info;
    ASSERT_EQ(QueryZipItem(zip.Get(), 2, &info), ZIPERR_NONE);
    EXPECT_EQ(UnzipItem(zip.Get(), 2, info.szName), ZIPERR_NONE);
    EXPECT_EQ(FileText(strTarget + L"\\f2.txt"), entries[2].strData);
}
