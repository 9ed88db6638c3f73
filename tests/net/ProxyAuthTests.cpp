#include "net/HttpDownload.h"
#include "resources/resource.h"
#include "tests/net/NetTestSupport.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <string>
#include <vector>

// Downloads through squid with basic proxy authentication; Wine's proxy
// settings point at it for the time of each test.
namespace {

const std::wstring kNeedCheck =
    L"[Normal][HttpDownload  HttpQueryInfo[HTTP_QUERY_STATUS_CODE]]  need check username and password";
const std::wstring kSuccess =
    L"[Normal][HttpDownload  HttpQueryInfo[HTTP_QUERY_STATUS_CODE]]  check username and password success";
const std::wstring kFailed =
    L"[Error][HttpDownload  HttpQueryInfo[HTTP_QUERY_STATUS_CODE]]  check username and password failed";
const std::wstring kCancelled =
    L"[Normal][HttpDownload  HttpQueryInfo[HTTP_QUERY_STATUS_CODE]] check username and password cancle";

using Lines = std::vector<std::wstring>;

class ProxyAuthTest : public testing::Test {
protected:
    ProxyAuthTest()
        : m_proxy(EnvPort(L"NET_TEST_PROXY_PORT")),
          m_strUrl(LocalUrl(L"NET_TEST_NGINX_PORT", L"/EX3/hello.txt")),
          m_strUser(EnvString(L"NET_TEST_PROXY_USER")),
          m_strPassword(EnvString(L"NET_TEST_PROXY_PASSWORD"))
    {
        std::vector<uint8_t> hello = ReadFileBytes(WindowsPathOf(EnvString(L"NET_TEST_WWW")) + L"\\EX3\\hello.txt");
        m_expectedBody.assign(hello.begin(), hello.end());
    }

    int Download() { return m_caller.Download(m_strUrl, m_pPrompt); }
    void Remember(const std::wstring& strUser, const std::wstring& strPassword)
    {
        std::swprintf(m_caller.szProxyUser, 64, L"%ls", strUser.c_str());
        std::swprintf(m_caller.szProxyPassword, 64, L"%ls", strPassword.c_str());
    }
    std::wstring RememberedUser() const { return m_caller.szProxyUser; }
    std::wstring RememberedPassword() const { return m_caller.szProxyPassword; }

    CProxySettingsGuard m_proxy;
    CLogCapture m_log;
    COwnerWindow m_owner;
    CDialogProxyPrompt m_dialogPrompt{m_owner.Get()};
    IProxyPrompt* m_pPrompt = &m_dialogPrompt;
    DownloadCaller m_caller;
    std::wstring m_strUrl;
    std::wstring m_strUser;
    std::wstring m_strPassword;
    std::vector<uint8_t> m_expectedBody;
};

class ScriptedProxyAuthTest : public ProxyAuthTest {
protected:
    ScriptedProxyAuthTest() { m_pPrompt = &m_ui; }
    CScriptedProxyPrompt m_ui;
};

}  // namespace

TEST_F(ScriptedProxyAuthTest, WithoutCredentialsTheProxyRefuses)
{
    // What the other tests rely on: the request really goes through squid.
    m_ui.Queue(IDCANCEL);
    EXPECT_EQ(Download(), 0);
    EXPECT_EQ(m_ui.m_nPrompts, 1);
    EXPECT_EQ(m_log.Messages(), (Lines{kNeedCheck, kCancelled}));
}

TEST_F(ScriptedProxyAuthTest, PromptedCredentialsAreUsedAndRememberedForLaterDownloads)
{
    m_ui.Queue(IDOK, m_strUser, m_strPassword);
    ASSERT_EQ(Download(), 1);
    EXPECT_EQ(m_caller.Body(), m_expectedBody);
    EXPECT_EQ(m_ui.m_nPrompts, 1);
    EXPECT_EQ(RememberedUser(), m_strUser);
    EXPECT_EQ(RememberedPassword(), m_strPassword);
    EXPECT_EQ(m_log.Messages(), (Lines{kNeedCheck, kSuccess}));

    // Each download opens its own connection and meets the demand again.
    m_log.Clear();
    ASSERT_EQ(Download(), 1);
    EXPECT_EQ(m_caller.Body(), m_expectedBody);
    EXPECT_EQ(m_ui.m_nPrompts, 1) << "remembered credentials need no prompt";
    EXPECT_EQ(m_log.Messages(), (Lines{kNeedCheck, kSuccess}));
}

TEST_F(ScriptedProxyAuthTest, RefusedCredentialsAreKeptAndUsedAgainWithoutAPrompt)
{
    m_ui.Queue(IDOK, m_strUser, L"wrong");
    EXPECT_EQ(Download(), 0);
    EXPECT_EQ(m_ui.m_nRefusals, 1);
    EXPECT_EQ(m_log.Messages(), (Lines{kNeedCheck, kFailed}));
    EXPECT_EQ(RememberedUser(), m_strUser);
    EXPECT_EQ(RememberedPassword(), L"wrong");

    m_log.Clear();
    EXPECT_EQ(Download(), 0);
    EXPECT_EQ(m_ui.m_nPrompts, 1);
    EXPECT_EQ(m_ui.m_nRefusals, 2);
    EXPECT_EQ(m_log.Messages(), (Lines{kNeedCheck, kFailed}));
}

TEST_F(ScriptedProxyAuthTest, PromptReturnsWhileEitherRememberedStringIsEmpty)
{
    struct Case {
        const wchar_t* pszUser;
        const wchar_t* pszPassword;
    };
    for (const Case& c : {Case{L"alice", L""}, Case{L"", L"s3cret-Pass"}}) {
        SCOPED_TRACE(Narrow(std::wstring(L"user '") + c.pszUser + L"' password '" + c.pszPassword + L"'"));
        Remember(c.pszUser, c.pszPassword);
        int nPromptsBefore = m_ui.m_nPrompts;
        m_ui.Queue(IDOK, m_strUser, m_strPassword);
        EXPECT_EQ(Download(), 1);
        EXPECT_EQ(m_ui.m_nPrompts, nPromptsBefore + 1);
        EXPECT_EQ(RememberedUser(), m_strUser);
        EXPECT_EQ(RememberedPassword(), m_strPassword);
    }
}

TEST_F(ScriptedProxyAuthTest, EmptyEntriesAreSentAndThePromptComesBack)
{
    m_ui.Queue(IDOK, L"", L"");
    EXPECT_EQ(Download(), 0);
    EXPECT_EQ(m_ui.m_nRefusals, 1);
    EXPECT_EQ(m_log.Messages(), (Lines{kNeedCheck, kFailed}));
    EXPECT_EQ(RememberedUser(), L"");
    EXPECT_EQ(RememberedPassword(), L"");

    m_ui.Queue(IDOK, m_strUser, m_strPassword);
    EXPECT_EQ(Download(), 1);
    EXPECT_EQ(m_ui.m_nPrompts, 2);
}

// Cancel, Escape, the close box and a prompt that could not be created all
// fail the download quietly and leave the remembered strings as they were.
TEST_F(ScriptedProxyAuthTest, CancelledPromptFailsWithoutANotice)
{
    for (INT_PTR nResult : {INT_PTR(IDCANCEL), INT_PTR(-1)}) {
        SCOPED_TRACE(testing::Message() << "prompt result " << nResult);
        m_log.Clear();
        Remember(L"bob", L"");
        m_ui.Queue(nResult, L"ignored", L"ignored");
        EXPECT_EQ(Download(), 0);
        EXPECT_EQ(m_log.Messages(), (Lines{kNeedCheck, kCancelled}));
        EXPECT_EQ(RememberedUser(), L"bob");
        EXPECT_EQ(RememberedPassword(), L"");
    }
    EXPECT_EQ(m_ui.m_nRefusals, 0);
}

// Entries longer than the 63 units the caller can hold are cut to them. The
// proxy knows an account whose names are exactly those 63 units, so the cut
// pair is accepted.
TEST_F(ScriptedProxyAuthTest, LongEntriesAreCutToTheRememberedSize)
{
    const std::wstring strLongUser = EnvString(L"NET_TEST_PROXY_LONG_USER");
    const std::wstring strLongPassword = EnvString(L"NET_TEST_PROXY_LONG_PASSWORD");
    ASSERT_EQ(strLongUser.size(), 63u);
    ASSERT_EQ(strLongPassword.size(), 63u);

    // Guards on both sides of each array catch a write past it.
    struct {
        wchar_t szUser[64];
        wchar_t guard1[8];
        wchar_t szPassword[64];
        wchar_t guard2[8];
    } remembered;
    std::wmemset(reinterpret_cast<wchar_t*>(&remembered), L'#', sizeof(remembered) / sizeof(wchar_t));
    remembered.szUser[0] = remembered.szPassword[0] = L'\0';

    m_ui.Queue(IDOK, strLongUser + L"-and-more-typed", strLongPassword + std::wstring(200, L'z'));
    EXPECT_EQ(HttpDownload(m_strUrl.c_str(), &m_caller.pBuffer, &m_caller.nSize, &m_caller.nCapacity,
                           remembered.szUser, remembered.szPassword, &m_ui),
              1);
    EXPECT_EQ(std::wstring(remembered.szUser), strLongUser);
    EXPECT_EQ(std::wstring(remembered.szPassword), strLongPassword);
    EXPECT_EQ(std::wstring(remembered.guard1, 8), std::wstring(8, L'#'));
    EXPECT_EQ(std::wstring(remembered.guard2, 8), std::wstring(8, L'#'));
}

// The real prompt and notice, driven like a user.
TEST_F(ProxyAuthTest, UserTypesTheCredentialsIntoThePrompt)
{
    int nResult = -1;
    {
        CBackgroundCall call([&] { nResult = Download(); });
        HWND hDlg = WaitForDialog(L"代理验证");
        ASSERT_NE(hDlg, nullptr);
        EXPECT_EQ(::GetWindow(hDlg, GW_OWNER), m_owner.Get());
        ASSERT_EQ(Xdotool(hDlg, {XdoClick(::GetDlgItem(hDlg, IDC_PROXY_USER)), "type " + Narrow(m_strUser), "key Tab",
                                 "type " + Narrow(m_strPassword), "key Return"}),
                  0);
        ASSERT_TRUE(call.Wait(20000));
    }
    EXPECT_EQ(nResult, 1);
    EXPECT_EQ(m_caller.Body(), m_expectedBody);
    EXPECT_EQ(RememberedUser(), m_strUser);
    EXPECT_EQ(RememberedPassword(), m_strPassword);
    EXPECT_EQ(m_log.Messages(), (Lines{kNeedCheck, kSuccess}));
}

TEST_F(ProxyAuthTest, UserEscapesThePrompt)
{
    Remember(L"", L"kept");
    int nResult = -1;
    {
        CBackgroundCall call([&] { nResult = Download(); });
        HWND hDlg = WaitForDialog(L"代理验证");
        ASSERT_NE(hDlg, nullptr);
        ASSERT_EQ(Xdotool(hDlg, {XdoClick(::GetDlgItem(hDlg, IDC_PROXY_USER)), "type someone", "key Escape"}), 0);
        ASSERT_TRUE(call.Wait(20000));
    }
    EXPECT_EQ(nResult, 0);
    EXPECT_EQ(m_log.Messages(), (Lines{kNeedCheck, kCancelled}));
    EXPECT_EQ(RememberedUser(), L"");
    EXPECT_EQ(RememberedPassword(), L"kept");
}

TEST_F(ProxyAuthTest, RefusedCredentialsShowTheNoticeBeforeTheLogLine)
{
    int nResult = -1;
    {
        CBackgroundCall call([&] { nResult = Download(); });
        HWND hDlg = WaitForDialog(L"代理验证");
        ASSERT_NE(hDlg, nullptr);
        ASSERT_EQ(Xdotool(hDlg, {XdoClick(::GetDlgItem(hDlg, IDC_PROXY_USER)), "type " + Narrow(m_strUser), "key Tab",
                                 "type wrong", "key Return"}),
                  0);

        // The single word is the message text, the sentence the caption.
        HWND hBox = WaitForDialog(L"用户名密码验证失败");
        ASSERT_NE(hBox, nullptr);
        EXPECT_EQ(::GetWindow(hBox, GW_OWNER), m_owner.Get());
        wchar_t szText[64] = {};
        ::GetDlgItemTextW(hBox, 0xFFFF, szText, 64);
        EXPECT_STREQ(szText, L"提示");
        EXPECT_NE(::GetDlgItem(hBox, IDOK), nullptr);
        EXPECT_EQ(::GetDlgItem(hBox, IDCANCEL), nullptr);
        EXPECT_EQ(m_log.Messages(), (Lines{kNeedCheck})) << "the failure is logged once the notice is dismissed";

        ASSERT_EQ(Xdotool(hBox, {"key Return"}), 0);
        ASSERT_TRUE(call.Wait(20000));
    }
    EXPECT_EQ(nResult, 0);
    EXPECT_EQ(m_log.Messages(), (Lines{kNeedCheck, kFailed}));
    EXPECT_EQ(RememberedUser(), m_strUser);
    EXPECT_EQ(RememberedPassword(), L"wrong");
}
