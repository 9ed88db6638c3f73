#include "PackageWriter.h"
#include "Plan.h"
#include "Publish.h"
#include "ReleaseSigning.h"
#include "ServerLists.h"
#include "Utf.h"
#include "engine/ReleaseFormat.h"
#include "zip/ItemNameRule.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const fs::path& path, const std::string& strData)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << strData;
}

// A server list decoded back to its lines, checking the byte-order mark
// and that every line ends in CR LF.
std::vector<std::string> ListLines(const std::string& strBytes)
{
    std::vector<std::string> lines;
    EXPECT_EQ(strBytes.substr(0, 2), "\xFF\xFE");
    std::string strLine;
    for (size_t i = 2; i + 1 < strBytes.size(); i += 2) {
        EXPECT_EQ(strBytes[i + 1], '\0') << "the tests use ASCII lines";
        if (strBytes[i] == '\r') {
            EXPECT_EQ(strBytes[i + 2], '\n');
            i += 2;
            lines.push_back(strLine);
            strLine.clear();
        } else {
            strLine += strBytes[i];
        }
    }
    EXPECT_EQ(strLine, "") << "the last line has no CR LF";
    return lines;
}

struct Result {
    int nCode;
    std::string strOut;
    std::string strErr;
};

// A client folder, a server root with an earlier tree in it, and an
// uninstaller, in a folder of the test's own.
class Publishing : public testing::Test {
protected:
    void SetUp() override
    {
        char szTemplate[] = "/tmp/publish-test-XXXXXX";
        ASSERT_NE(mkdtemp(szTemplate), nullptr);
        m_root = szTemplate;
        WriteAll(m_root / "UnInstall.exe", "MZ uninstaller");
        WriteAll(m_root / "server" / "EX3" / "divozira.txt", "earlier");
        WriteAll(Client("iKVLRemote.exe"), "MZ client");
    }
    void TearDown() override { fs::remove_all(m_root); }

    fs::path Client(const std::string& strPath) const { return m_root / "client" / strPath; }
    fs::path Served(const std::string& strName) const { return m_root / "server" / "EX3" / strName; }

    Result Publish(const std::string& strDescription, const std::string& strSignKey = "",
                   const std::string& strPreviousKey = "")
    {
        WriteAll(m_root / "publish.ini", strDescription);
        const std::string strClient = (m_root / "client").string();
        const std::string strDescriptionFile = (m_root / "publish.ini").string();
        const std::string strUninstaller = (m_root / "UnInstall.exe").string();
        const std::string strServer = (m_root / "server").string();
        std::vector<const char*> args = {
            "--client",      strClient.c_str(),      "--description", strDescriptionFile.c_str(),
            "--uninstaller", strUninstaller.c_str(), "--out",         strServer.c_str()};
        if (!strSignKey.empty())
            args.insert(args.end(), {"--sign-key", strSignKey.c_str()});
        if (!strPreviousKey.empty())
            args.insert(args.end(), {"--previous-key", strPreviousKey.c_str()});
        return Run(args);
    }

    Result Run(std::vector<const char*> args)
    {
        args.insert(args.begin(), "fenmora-publish");
        std::ostringstream out;
        std::ostringstream err;
        int nCode = PublishMain(static_cast<int>(args.size()), args.data(), out, err);
        return {nCode, out.str(), err.str()};
    }

    fs::path m_root;
};

std::string Crc(const std::string& str)
{
    return std::to_string(crc32(0, reinterpret_cast<const Bytef*>(str.data()), static_cast<uInt>(str.size())));
}

constexpr char kCore[] = "[core.zip]\ngroup = 1\nverify = iKVLRemote.exe\n";

}  // namespace

TEST(ServerLists, Utf16LittleEndianWithByteOrderMarkAndCrLf)
{
    const std::string strBytes = ServerListBytes({"core.zip;1;1", "皮肤\\a.ini;7"});
    const std::string strExpected = std::string("\xFF\xFE", 2) +
                                    std::string("c\0o\0r\0e\0.\0z\0i\0p\0;\0001\0;\0001\0\r\0\n\0", 28) +
                                    std::string("\xAE\x76\xA4\x80\\\0a\0.\0i\0n\0i\0;\0007\0\r\0\n\0", 24);
    EXPECT_EQ(strBytes, strExpected);
    EXPECT_EQ(ServerListBytes({}), std::string("\xFF\xFE", 2));
}

// The installer's zip layer compiles the same rule; whatever it refuses, the
// tool must not publish.
TEST(ItemNameRule, DevicesStreamsAndClimbs)
{
    struct Case {
        const char* pszComponent;
        bool bDevice;
        bool bRefused;
    };
    const Case cases[] = {
        {"a.txt", false, false},      {"console.txt", false, false}, {"com10.txt", false, false},
        {"COM0", false, false},       {"lpt", false, false},         {"nul_x", false, false},
        {"CONIN", false, false},      {"COM⁴", false, false},        {"a..b", false, false},
        {".a", false, false},         {"", false, false},            {".", false, false},
        {"CON", true, true},          {"nul.txt", true, true},       {"NUL .txt", true, true},
        {"Aux", true, true},          {"prn.", true, true},          {"conin$", true, true},
        {"CONOUT$.log", true, true},  {"Com1.log", true, true},      {"lpt9", true, true},
        {"COM¹", true, true},         {"lpt².txt", true, true},      {"COM³ ", true, true},
        {"..", false, true},          {"...", false, true},          {".. ", false, true},
        {" ", false, true},           {"f:ads", false, true},        {"f.txt::$DATA", false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszComponent);
        std::u16string strUnits;
        ASSERT_TRUE(Utf8ToUtf16(c.pszComponent, &strUnits));
        EXPECT_EQ(IsDeviceName(strUnits.data(), strUnits.size()), c.bDevice);
        EXPECT_EQ(IsRefusedComponent(strUnits.data(), strUnits.size()), c.bRefused);
        if (c.bRefused) {
            EXPECT_NE(InstalledPathProblem(std::string("dir/") + c.pszComponent, false), "");
        }
    }
}

TEST(PackageWriter, DosStampInLocalTimeHeldToItsYears)
{
    setenv("TZ", "UTC", 1);
    tzset();
    EXPECT_EQ(DosStamp(1623763710), 0x52CF6B8Fu);        // 2021-06-15 13:28:30
    EXPECT_EQ(DosStamp(0), 0x00210000u);                  // 1970: 1980-01-01 00:00:00
    EXPECT_EQ(DosStamp(7258118400), 0xFF9FBF7Du);         // 2200: 2107-12-31 23:59:58
    EXPECT_EQ(UtExtraRecord(1623763710),
              (std::vector<unsigned char>{'U', 'T', 5, 0, 1, 0xFE, 0xAA, 0xC8, 0x60}));
    EXPECT_TRUE(UtExtraRecord(7258118400).empty());
    unsetenv("TZ");
    tzset();
}

TEST_F(Publishing, WritesTheTreeTheListsAndTheSummary)
{
    WriteAll(Client("favicon.ico"), "icon");
    WriteAll(Client("config/ZUZ.System.config"), "[Client]\r\nVersion=001\r\n");
    WriteAll(Client("skins/yahei.ini"), "[Skin]\r\nFace=微软雅黑\r\n");
    WriteAll(Client("skins/simsun.ini"), "[Skin]\r\nFace=宋体\r\n");
    WriteAll(Client("skins/readme.txt"), "skins");
    WriteAll(Client("notes/空.txt"), "");
    WriteAll(m_root / "server" / "EX3" / "stale.zip", "from an earlier publish");
    const std::string strName31 = std::string(27, 'n') + ".zip";

    Result r = Publish(std::string("# demo\n[core.zip]\ngroup = 1\nparam = 1\nverify = iKVLRemote.exe\n"
                                   "verify = favicon.ico\nfile = config/ZUZ.System.config\nfile = notes/空.txt\n"
                                   "[") + strName31 + "]\ngroup = 2\nparam = -2\n"
                                   "file = skin/font.ini < skins/yahei.ini\nverify = skin/readme.txt < skins/readme.txt\n"
                                   "[skin-simsun.zip]\ngroup = 3\n"
                                   "file = skin/font.ini < skins/simsun.ini\nverify = skin\\readme.txt < skins/readme.txt\n");
    ASSERT_EQ(r.nCode, kPublished) << r.strErr;
    EXPECT_EQ(r.strErr, "");

    EXPECT_EQ(ListLines(ReadAll(Served("divozira.txt"))),
              (std::vector<std::string>{"core.zip;1;1", strName31 + ";-2;2", "skin-simsun.zip;0;3"}));
    // CRC-32 of "MZ client", "icon" and "skins".
    EXPECT_EQ(ListLines(ReadAll(Served("filecrc.txt"))),
              (std::vector<std::string>{"iKVLRemote.exe;" + Crc("MZ client"), "favicon.ico;" + Crc("icon"),
                                        "skin\\readme.txt;" + Crc("skins")}));
    EXPECT_EQ(ReadAll(Served("UnInstall.exe")), "MZ uninstaller");
    std::vector<std::string> served;
    for (const fs::directory_entry& entry : fs::directory_iterator(m_root / "server"))
        served.push_back(entry.path().filename().string());
    EXPECT_EQ(served, std::vector<std::string>{"EX3"}) << "no staging folder is left";
    served.clear();
    for (const fs::directory_entry& entry : fs::directory_iterator(m_root / "server" / "EX3"))
        served.push_back(entry.path().filename().string());
    std::sort(served.begin(), served.end());
    EXPECT_EQ(served, (std::vector<std::string>{"UnInstall.exe", "core.zip", "divozira.txt", "filecrc.txt",
                                                strName31, "skin-simsun.zip"}));

    for (const char* pszLine :
         {"published ", "  core.zip                 group 1  param 1", "4 files, 36 bytes unpacked",
          "      iKVLRemote.exe                              9 bytes  verified, CRC-32 ",
          "      config/ZUZ.System.config                   23 bytes\n", "  divozira.txt             3 packages, ",
          "  filecrc.txt              3 files to verify, ", "  UnInstall.exe            14 bytes\n",
          "machines with the font 微软雅黑 (groups 1, 2) install 6 files, ",
          "machines without it (groups 1, 3) install 6 files, "})
        EXPECT_NE(r.strOut.find(pszLine), std::string::npos) << pszLine << "\n" << r.strOut;
}

TEST_F(Publishing, RefusesWhatTheInstallerCannotTake)
{
    struct Case {
        const char* pszWhat;
        std::string strDescription;
        std::vector<std::pair<std::string, std::string>> files;
        const char* pszMessage;
    };
    const std::string strCrcZero("\x9d\x0a\xd9\x6d", 4);
    const std::vector<Case> cases = {
        {"name of 32 units", std::string("[") + std::string(28, 'n') + ".zip]\ngroup = 1\nverify = iKVLRemote.exe\n",
         {}, ":1: package name \"nnnnnnnnnnnnnnnnnnnnnnnnnnnn.zip\" has 32 UTF-16 units; the installer takes at most 31"},
        {"units, not characters", "[😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀😀]\ngroup = 1\nverify = iKVLRemote.exe\n", {},
         "has 32 UTF-16 units"},
        {"name with a separator", "[a;b.zip]\ngroup = 1\nverify = iKVLRemote.exe\n", {},
         ":1: package name \"a;b.zip\" may hold only letters, digits"},
        {"name with a blank", "[a b.zip]\ngroup = 1\nverify = iKVLRemote.exe\n", {}, "may hold only letters"},
        {"name not in ASCII", "[皮肤.zip]\ngroup = 1\nverify = iKVLRemote.exe\n", {}, "may hold only letters"},
        {"name not UTF-8", "[a\xFF.zip]\ngroup = 1\nverify = iKVLRemote.exe\n", {}, "is not UTF-8"},
        {"the package list's name", "[divozira.txt]\ngroup = 1\nverify = iKVLRemote.exe\n", {}, "is taken"},
        {"the uninstaller's name", "[uninstall.EXE]\ngroup = 1\nverify = iKVLRemote.exe\n", {}, "is taken"},
        {"the release", "[Release.txt]\ngroup = 1\nverify = iKVLRemote.exe\n", {}, "is taken"},
        {"the release's signature", "[release.SIG]\ngroup = 1\nverify = iKVLRemote.exe\n", {}, "is taken"},
        {"the installer's log", "[LOG.txt]\ngroup = 1\nverify = iKVLRemote.exe\n", {}, "is taken"},
        {"a device", "[con.zip]\ngroup = 1\nverify = iKVLRemote.exe\n", {}, "is a device on Windows"},
        {"a trailing dot", "[core.]\ngroup = 1\nverify = iKVLRemote.exe\n", {}, "ends in a dot"},
        {"no group", "[core.zip]\nverify = iKVLRemote.exe\n", {}, ":1: the package has no group"},
        {"group not a number", "[core.zip]\ngroup = one\nverify = iKVLRemote.exe\n", {},
         "group \"one\" is not a 32-bit decimal number"},
        {"group beyond 32 bits", "[core.zip]\ngroup = 4294967297\nverify = iKVLRemote.exe\n", {},
         "is not a 32-bit decimal number"},
        {"group 4", "[core.zip]\ngroup = 4\nverify = iKVLRemote.exe\n", {}, "group 4 is installed on no machine"},
        {"group 0", "[core.zip]\ngroup = 0\nverify = iKVLRemote.exe\n", {}, "group 0 is installed on no machine"},
        {"param not a number", "[core.zip]\ngroup = 1\nparam = 1.5\nverify = iKVLRemote.exe\n", {},
         "param \"1.5\" is not a 32-bit decimal number"},
        {"a name twice", std::string(kCore) + "[CORE.zip]\ngroup = 2\nfile = a.txt\n", {{"a.txt", "a"}},
         ":4: package \"CORE.zip\" is named twice"},
        {"no files", std::string(kCore) + "[empty.zip]\ngroup = 2\n", {}, ":4: package \"empty.zip\" has no files"},
        {"no packages", "# nothing\n", {}, "names no package"},
        {"verified file with CRC 0", std::string(kCore) + "verify = zero.bin\n", {{"zero.bin", strCrcZero}},
         ":4: \"zero.bin\" is listed for verification but its CRC-32 is 0, which filecrc.txt cannot hold"},
        {"verified empty file", std::string(kCore) + "verify = empty.txt\n", {{"empty.txt", ""}},
         "its CRC-32 is 0 (the file is empty)"},
        {"verified file differs between 2 and 3",
         std::string(kCore) + "[yahei.zip]\ngroup = 2\nverify = font.ini < y.ini\n"
                              "[simsun.zip]\ngroup = 3\nverify = font.ini < s.ini\n",
         {{"y.ini", "Face=微软雅黑"}, {"s.ini", "Face=宋体"}},
         ":6: \"font.ini\" is listed for verification but differs between machines with the font 微软雅黑 (groups 1 "
         "and 2), from yahei.zip, and machines without it (groups 1 and 3), from simsun.zip"},
        {"a group 2 file replaces a verified group 1 file",
         std::string(kCore) + "verify = font.ini < s.ini\n[yahei.zip]\ngroup = 2\nfile = FONT.ini < y.ini\n",
         {{"y.ini", "Face=微软雅黑"}, {"s.ini", "Face=宋体"}}, "\"font.ini\" is listed for verification but differs"},
        {"verified file only on group 2 machines", std::string(kCore) + "[yahei.zip]\ngroup = 2\nverify = y.ini\n",
         {{"y.ini", "y"}},
         ":6: \"y.ini\" is listed for verification but machines without it (groups 1 and 3) do not install it"},
        {"no client program without the font", "[yahei.zip]\ngroup = 2\nverify = iKVLRemote.exe\n", {},
         "machines without it (groups 1 and 3) would install no iKVLRemote.exe"},
        {"missing client file", std::string(kCore) + "file = gone.dll\n", {},
         ":4: \"gone.dll\" is not in the client folder"},
        {"a folder as a file", std::string(kCore) + "file = sub\n", {{"sub/x", "x"}}, "is not a regular file"},
        {"climbing path", std::string(kCore) + "file = a/../b.txt\n", {}, "may not contain \".\" or \"..\""},
        {"absolute path", std::string(kCore) + "file = /etc/passwd\n", {}, "must be relative to the install folder"},
        {"drive path", std::string(kCore) + "file = C:/x.txt\n", {}, "has a character Windows does not allow"},
        {"stream", std::string(kCore) + "file = a.txt:zone\n", {}, "has a character Windows does not allow"},
        {"trailing dot", std::string(kCore) + "file = dir./a.txt\n", {}, "ending in a dot or blank"},
        {"device path", std::string(kCore) + "file = logs/aux.txt\n", {}, "as a device (aux.txt)"},
        {"superscript port", std::string(kCore) + "file = logs/COM¹.txt\n", {},
         ":4: \"logs/COM¹.txt\" has a name Windows reads as a device (COM¹.txt)"},
        {"empty folder name", std::string(kCore) + "file = a//b.txt\n", {}, "has an empty folder name"},
        {"verified path with a separator", std::string(kCore) + "verify = a;b.txt\n", {{"a;b.txt", "x"}},
         "cannot be listed in filecrc.txt"},
        {"path beyond MAX_PATH", std::string(kCore) + "file = " + std::string(243, 'p') + "\n", {},
         "takes 260 of the 259 units"},
        {"source outside the client folder", std::string(kCore) + "file = a.txt < ../secret\n", {},
         "source \"../secret\" must be a path below the client folder"},
        {"a path twice in a package", std::string(kCore) + "file = A.txt\nfile = a.TXT\n", {{"A.txt", "a"}, {"a.TXT", "b"}},
         ":5: \"a.TXT\" is in core.zip twice"},
        {"unknown key", std::string(kCore) + "files = a.txt\n", {}, ":4: unknown key \"files\""},
        {"key before a package", "group = 1\n" + std::string(kCore), {}, ":1: \"group\" before the first [package]"},
        {"broken package line", "[core.zip\n", {}, ":1: a package line is \"[name]\""},
        {"line without a key", std::string(kCore) + "iKVLRemote.exe\n", {}, ":4: expected \"key = value\""},
    };
    const std::string strEarlier = ReadAll(Served("divozira.txt"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        for (const auto& file : c.files)
            WriteAll(Client(file.first), file.second);
        Result r = Publish(c.strDescription);
        EXPECT_EQ(r.nCode, kRefused);
        EXPECT_NE(r.strErr.find(c.pszMessage), std::string::npos) << r.strErr;
        EXPECT_NE(r.strErr.find("refused: nothing was published"), std::string::npos);
        EXPECT_EQ(r.strOut, "");
        EXPECT_EQ(ReadAll(Served("divozira.txt")), strEarlier) << "the published tree was touched";
        EXPECT_FALSE(fs::exists(m_root / "server" / ".EX3.new"));
        for (const auto& file : c.files)
            fs::remove_all(Client(file.first).parent_path() == m_root / "client" ? Client(file.first)
                                                                                 : Client(file.first).parent_path());
    }
}

TEST_F(Publishing, NamesEveryRefusalAtOnce)
{
    Result r = Publish("[a b.zip]\ngroup = 7\nverify = iKVLRemote.exe\nfile = missing.txt\n");
    EXPECT_EQ(r.nCode, kRefused);
    for (const char* pszMessage : {":1: package name \"a b.zip\"", ":1: group 7", ":4: \"missing.txt\""})
        EXPECT_NE(r.strErr.find(pszMessage), std::string::npos) << r.strErr;
}

TEST_F(Publishing, RefusesAnUninstallerThatIsNoWindowsProgram)
{
    WriteAll(m_root / "UnInstall.exe", "#!/bin/sh\n");
    Result r = Publish(kCore);
    EXPECT_EQ(r.nCode, kRefused);
    EXPECT_NE(r.strErr.find("is not a Windows program"), std::string::npos) << r.strErr;
}

TEST_F(Publishing, UsageErrors)
{
    std::ostringstream out;
    std::ostringstream err;
    const char* const argv[] = {"fenmora-publish", "--client", "x", "--bogus"};
    EXPECT_EQ(PublishMain(4, argv, out, err), kFailed);
    EXPECT_NE(err.str().find("unknown or incomplete argument --bogus"), std::string::npos);
    EXPECT_NE(err.str().find("usage: "), std::string::npos);

    // An option where a value belongs is a value left out, never the value.
    WriteAll(m_root / "publish.ini", kCore);
    const std::string strClient = (m_root / "client").string();
    const std::string strDescription = (m_root / "publish.ini").string();
    const std::string strUninstaller = (m_root / "UnInstall.exe").string();
    const std::string strServer = (m_root / "server").string();
    const char* const pszClient = strClient.c_str();
    const char* const pszDescription = strDescription.c_str();
    const char* const pszUninstaller = strUninstaller.c_str();
    const char* const pszServer = strServer.c_str();
    const struct {
        std::vector<const char*> args;
        const char* pszMessage;
    } cases[] = {
        {{"--client", "--out", pszServer, "--description", pszDescription, "--uninstaller", pszUninstaller},
         "incomplete argument --client\n"},
        {{"--client", pszClient, "--description", pszDescription, "--uninstaller", pszUninstaller, "--out",
          "--codesign-pkcs12", pszServer},
         "incomplete argument --out\n"},
        {{"--client", pszClient, "--description", pszDescription, "--out", pszServer, "--uninstaller"},
         "incomplete argument --uninstaller\n"},
    };
    const std::string strEarlier = ReadAll(Served("divozira.txt"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszMessage);
        Result r = Run(c.args);
        EXPECT_EQ(r.nCode, kFailed);
        EXPECT_NE(r.strErr.find(c.pszMessage), std::string::npos) << r.strErr;
        EXPECT_NE(r.strErr.find("usage: "), std::string::npos);
        EXPECT_EQ(ReadAll(Served("divozira.txt")), strEarlier);
        EXPECT_FALSE(fs::exists("--codesign-pkcs12")) << "published into a folder named after an option";
    }

    fs::remove_all(m_root / "client");
    Result r = Publish(kCore);
    EXPECT_EQ(r.nCode, kFailed);
    EXPECT_NE(r.strErr.find("does not exist"), std::string::npos);
}

namespace {

std::string Sha256Hex(const std::string& str)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int cb = 0;
    EVP_Digest(str.data(), str.size(), digest, &cb, EVP_sha256(), nullptr);
    static const char kHex[] = "0123456789abcdef";
    std::string strHex;
    for (unsigned int i = 0; i < cb; ++i)
        strHex += std::string{kHex[digest[i] >> 4], kHex[digest[i] & 0xF]};
    return strHex;
}

const std::string kZeros(64, '0');

}  // namespace

TEST(ReleaseFormat, ReadsOnlyTheExactFormat)
{
    struct Case {
        const char* pszWhat;
        std::string strText;
        bool bRead;
    };
    const std::string strLine = "core.zip;114209;" + std::string(32, 'a') + std::string(32, '9') + "\n";
    const std::vector<Case> cases = {
        {"one file", "serial=1\n" + strLine, true},
        {"largest serial and size", "serial=4294967295\na;2147483647;" + kZeros + "\n", true},
        {"empty file", "serial=7\na~b_c-d.e;0;" + kZeros + "\n", true},
        {"nothing", "", false},
        {"no file", "serial=1\n", false},
        {"serial 0", "serial=0\n" + strLine, false},
        {"serial with a leading zero", "serial=01\n" + strLine, false},
        {"serial beyond 32 bits", "serial=4294967296\n" + strLine, false},
        {"serial with a sign", "serial=+1\n" + strLine, false},
        {"serial with a blank", "serial= 1\n" + strLine, false},
        {"serial key in capitals", "Serial=1\n" + strLine, false},
        {"file before the serial", strLine + "serial=1\n", false},
        {"last line without LF", "serial=1\n" + strLine.substr(0, strLine.size() - 1), false},
        {"CR LF", "serial=1\r\n" + strLine, false},
        {"empty line", "serial=1\n\n" + strLine, false},
        {"empty name", "serial=1\n;1;" + kZeros + "\n", false},
        {"blank in a name", "serial=1\na b;1;" + kZeros + "\n", false},
        {"slash in a name", "serial=1\na/b;1;" + kZeros + "\n", false},
        {"backslash in a name", "serial=1\na\\b;1;" + kZeros + "\n", false},
        {"name not in ASCII", "serial=1\n\xC3\xA4;1;" + kZeros + "\n", false},
        {"size with a leading zero", "serial=1\na;01;" + kZeros + "\n", false},
        {"size beyond 31 bits", "serial=1\na;2147483648;" + kZeros + "\n", false},
        {"negative size", "serial=1\na;-1;" + kZeros + "\n", false},
        {"no size", "serial=1\na;;" + kZeros + "\n", false},
        {"digest in capitals", "serial=1\na;1;" + std::string(64, 'A') + "\n", false},
        {"digest one digit short", "serial=1\na;1;" + kZeros.substr(1) + "\n", false},
        {"digest one digit long", "serial=1\na;1;" + kZeros + "0\n", false},
        {"a fourth field", "serial=1\na;1;" + kZeros + ";x\n", false},
        {"a name twice", "serial=1\n" + strLine + strLine, false},
        {"an HTML page", "<!DOCTYPE html><html><body><h1>Maintenance</h1></body></html>\n", false},
        {"beyond 64 KiB", "serial=1\n" + std::string(0x10000, 'x') + ";1;" + kZeros + "\n", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        Release release;
        EXPECT_EQ(ParseRelease(c.strText, &release), c.bRead);
        if (c.bRead) {
            EXPECT_EQ(FormatRelease(release), c.strText) << "read back as it was written";
        }
    }

    Release release;
    ASSERT_TRUE(ParseRelease("serial=12\n" + strLine, &release));
    EXPECT_EQ(release.nSerial, 12u);
    ASSERT_EQ(release.files.size(), 1u);
    EXPECT_EQ(release.files[0].strName, "core.zip");
    EXPECT_EQ(release.files[0].nSize, 114209u);
    EXPECT_EQ(release.files[0].sha256[0], 0xAA);
    EXPECT_EQ(release.files[0].sha256[31], 0x99);
    EXPECT_EQ(FindReleaseFile(release, "core.zip"), &release.files[0]);
    EXPECT_EQ(FindReleaseFile(release, "Core.zip"), nullptr);
}

TEST_F(Publishing, NewKeyWritesAPairAndNeverReplacesIt)
{
    const std::string strKeys = (m_root / "keys").string();
    Result r = Run({"--new-key", strKeys.c_str()});
    ASSERT_EQ(r.nCode, kPublished) << r.strErr;
    const std::string strPrivate = ReadAll(m_root / "keys" / kPrivateKeyFile);
    const std::string strPublic = ReadAll(m_root / "keys" / kPublicKeyFile);
    // A P-256 key that OpenSSL reads back.
    BIO* pBio = BIO_new_mem_buf(strPrivate.data(), static_cast<int>(strPrivate.size()));
    EVP_PKEY* pKey = pBio ? PEM_read_bio_PrivateKey(pBio, nullptr, nullptr, nullptr) : nullptr;
    EXPECT_TRUE(pKey && EVP_PKEY_get_base_id(pKey) == EVP_PKEY_EC && EVP_PKEY_get_bits(pKey) == 256);
    EVP_PKEY_free(pKey);
    BIO_free(pBio);
    EXPECT_EQ(r.strOut.find("PRIVATE KEY"), std::string::npos) << "the key is never printed";
    struct stat st = {};
    ASSERT_EQ(stat((m_root / "keys" / kPrivateKeyFile).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // SubjectPublicKeyInfo of a P-256 point: the build reads X and Y from it.
    ASSERT_EQ(strPublic.size(), 91u);
    EXPECT_EQ(strPublic.substr(0, 27), std::string("\x30\x59\x30\x13\x06\x07\x2a\x86\x48\xce\x3d\x02\x01\x06\x08\x2a"
                                                   "\x86\x48\xce\x3d\x03\x01\x07\x03\x42\x00\x04", 27));
    EXPECT_NE(r.strOut.find("SHA-256 " + Sha256Hex(strPublic)), std::string::npos) << r.strOut;

    r = Run({"--new-key", strKeys.c_str()});
    EXPECT_EQ(r.nCode, kFailed);
    EXPECT_NE(r.strErr.find("exists; a key is never replaced"), std::string::npos) << r.strErr;
    EXPECT_EQ(ReadAll(m_root / "keys" / kPrivateKeyFile), strPrivate);
    EXPECT_EQ(ReadAll(m_root / "keys" / kPublicKeyFile), strPublic);
}

TEST_F(Publishing, SignedReleaseNamesEveryFetchedFileAndCountsUp)
{
    const std::string strKeys = (m_root / "keys").string();
    ASSERT_EQ(Run({"--new-key", strKeys.c_str()}).nCode, kPublished);
    const std::string strPublic = ReadAll(m_root / "keys" / kPublicKeyFile);
    const std::string strKey = (m_root / "keys" / kPrivateKeyFile).string();
    WriteAll(Client("skin.ini"), "[Skin]\r\n");
    const std::string strDescription = std::string(kCore) + "[skin.zip]\ngroup = 2\nfile = skin.ini\n";

    for (uint32_t nSerial : {1u, 2u}) {
        SCOPED_TRACE(nSerial);
        Result r = Publish(strDescription, strKey);
        ASSERT_EQ(r.nCode, kPublished) << r.strErr;
        const std::string strText = ReadAll(Served("release.txt"));
        std::string strWant = "serial=" + std::to_string(nSerial) + "\n";
        for (const char* pszName : {"divozira.txt", "core.zip", "skin.zip", "UnInstall.exe", "filecrc.txt"}) {
            const std::string strData = ReadAll(Served(pszName));
            strWant += std::string(pszName) + ";" + std::to_string(strData.size()) + ";" + Sha256Hex(strData) + "\n";
        }
        EXPECT_EQ(strText, strWant);
        // The installer verifies it (the end-to-end suite's signed group).
        EXPECT_EQ(ReadAll(Served("release.sig")).size(), kReleaseSignatureBytes);
        EXPECT_NE(r.strOut.find("  release.txt              serial " + std::to_string(nSerial) +
                                ", 5 files, signed by the key with SHA-256 " + Sha256Hex(strPublic)),
                  std::string::npos)
            << r.strOut;
    }

    // Unsigned publishing writes no release.
    ASSERT_EQ(Publish(strDescription).nCode, kPublished);
    EXPECT_FALSE(fs::exists(Served("release.txt")));
    EXPECT_FALSE(fs::exists(Served("release.sig")));
}

TEST_F(Publishing, SigningRefusesWithoutAUsableKeyOrPreviousSerial)
{
    const std::string strKeys = (m_root / "keys").string();
    ASSERT_EQ(Run({"--new-key", strKeys.c_str()}).nCode, kPublished);
    const std::string strKey = (m_root / "keys" / kPrivateKeyFile).string();
    WriteAll(m_root / "garbage.pem", "not a key at all\n");
    struct Case {
        const char* pszWhat;
        std::string strKey;
        std::string strPreviousRelease;
        const char* pszMessage;
    };
    const Case cases[] = {
        {"no key file", (m_root / "missing.pem").string(), "", "cannot read the private key"},
        {"not a key", (m_root / "garbage.pem").string(), "", "cannot read the private key"},
        {"the public key", (m_root / "keys" / kPublicKeyFile).string(), "", "cannot read the private key"},
        {"previous release unreadable", strKey, "<html>\n", "has no serial to follow"},
        {"previous serial at the end", strKey, "serial=4294967295\na;1;" + kZeros + "\n", "has no serial to follow"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        fs::remove(Served("release.txt"));
        if (!c.strPreviousRelease.empty())
            WriteAll(Served("release.txt"), c.strPreviousRelease);
        const std::string strEarlier = ReadAll(Served("divozira.txt"));
        Result r = Publish(kCore, c.strKey);
        EXPECT_EQ(r.nCode, kFailed);
        EXPECT_NE(r.strErr.find(c.pszMessage), std::string::npos) << r.strErr;
        EXPECT_NE(r.strErr.find("nothing was published"), std::string::npos) << r.strErr;
        EXPECT_EQ(ReadAll(Served("divozira.txt")), strEarlier) << "the published tree was touched";
        EXPECT_FALSE(fs::exists(m_root / "server" / ".EX3.new"));
    }
}

TEST_F(Publishing, SerialFollowsOnlyAPreviousReleaseThatVerifies)
{
    const std::string strOld = (m_root / "old").string();
    const std::string strNew = (m_root / "new").string();
    ASSERT_EQ(Run({"--new-key", strOld.c_str()}).nCode, kPublished);
    ASSERT_EQ(Run({"--new-key", strNew.c_str()}).nCode, kPublished);
    const std::string strOldKey = (m_root / "old" / kPrivateKeyFile).string();
    const std::string strOldPublic = (m_root / "old" / kPublicKeyFile).string();
    const std::string strNewKey = (m_root / "new" / kPrivateKeyFile).string();
    const std::string strNewPublic = (m_root / "new" / kPublicKeyFile).string();
    ASSERT_EQ(Publish(kCore, strOldKey).nCode, kPublished);
    const std::string strText = ReadAll(Served("release.txt"));
    const std::string strSignature = ReadAll(Served("release.sig"));
    ASSERT_EQ(strText.compare(0, 9, "serial=1\n"), 0) << strText;
    const std::string strRaised = "serial=9" + strText.substr(8);

    struct Case {
        const char* pszWhat;
        const std::string& strServed;
        bool bSignature;
        const std::string& strKey;
        std::string strPreviousKey;
        std::string strMessage;
    };
    const Case cases[] = {
        {"serial raised", strRaised, true, strOldKey, "",
         "does not verify with the key with SHA-256 " + Sha256Hex(ReadAll(strOldPublic)) +
             "; its serial is not followed (after a new key, give the old public key with --previous-key)"},
        {"no signature", strText, false, strOldKey, "",
         "has no readable release.sig; an unsigned serial is not followed"},
        {"a new key", strText, true, strNewKey, "", "give the old public key with --previous-key"},
        {"serial raised, the old public key given", strRaised, true, strNewKey, strOldPublic,
         "does not verify with the key with SHA-256 " + Sha256Hex(ReadAll(strOldPublic)) +
             "; its serial is not followed\n"},
        {"the new public key given as the old", strText, true, strNewKey, strNewPublic, "does not verify"},
        {"a private key given as the old public key", strText, true, strNewKey, strOldKey,
         "cannot read the P-256 public key " + strOldKey},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszWhat);
        WriteAll(Served("release.txt"), c.strServed);
        fs::remove(Served("release.sig"));
        if (c.bSignature)
            WriteAll(Served("release.sig"), strSignature);
        Result r = Publish(kCore, c.strKey, c.strPreviousKey);
        EXPECT_EQ(r.nCode, kFailed);
        EXPECT_NE(r.strErr.find(c.strMessage), std::string::npos) << r.strErr;
        EXPECT_NE(r.strErr.find("nothing was published"), std::string::npos) << r.strErr;
        EXPECT_EQ(ReadAll(Served("release.txt")), c.strServed) << "the published tree was touched";
        EXPECT_FALSE(fs::exists(m_root / "server" / ".EX3.new"));
    }

    // A new key goes on from the release the old one signed, and then from its own.
    WriteAll(Served("release.txt"), strText);
    WriteAll(Served("release.sig"), strSignature);
    Result r = Publish(kCore, strNewKey, strOldPublic);
    ASSERT_EQ(r.nCode, kPublished) << r.strErr;
    EXPECT_NE(r.strOut.find("serial 2, "), std::string::npos) << r.strOut;
    r = Publish(kCore, strNewKey);
    ASSERT_EQ(r.nCode, kPublished) << r.strErr;
    EXPECT_NE(r.strOut.find("serial 3, "), std::string::npos) << r.strOut;
}
