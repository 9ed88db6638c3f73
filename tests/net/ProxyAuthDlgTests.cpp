#include "net/ProxyAuthDlg.h"
#include "resources/resource.h"
#include "tests/net/NetTestSupport.h"
#include "tests/support/AccessibleName.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <oleacc.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// One control of a DLGTEMPLATEEX, or the dialog itself.
struct TemplateItem {
    DWORD dwStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    int nId = 0;
    std::wstring strClass;  // "#128" style for the predefined ordinals
    std::wstring strText;
};

struct DialogTemplate {
    TemplateItem dialog;
    WORD wPointSize = 0;
    std::wstring strFont;
    std::vector<TemplateItem> items;
};

class CTemplateReader {
public:
    CTemplateReader(const BYTE* p, size_t cb) : m_p(p), m_cb(cb) {}

    template <typename T>
    T Read()
    {
        T value{};
        if (m_pos + sizeof(T) <= m_cb)
            std::memcpy(&value, m_p + m_pos, sizeof(T));
        m_pos += sizeof(T);
        return value;
    }
    std::wstring ReadString()
    {
        std::wstring str;
        for (wchar_t ch; (ch = Read<wchar_t>()) != 0 && m_pos <= m_cb;)
            str += ch;
        return str;
    }
    std::wstring ReadNameOrOrdinal()
    {
        WORD w = Read<WORD>();
        if (w == 0)
            return L"";
        if (w == 0xFFFF)
            return L"#" + std::to_wstring(Read<WORD>());
        m_pos -= sizeof(WORD);
        return ReadString();
    }
    void AlignToDword() { m_pos = (m_pos + 3) & ~size_t(3); }
    bool Ok() const { return m_pos <= m_cb; }

private:
    const BYTE* m_p;
    size_t m_cb;
    size_t m_pos = 0;
};

bool LoadProxyDialogTemplate(DialogTemplate* pOut)
{
    HMODULE hModule = ::GetModuleHandleW(nullptr);
    HRSRC hRes = ::FindResourceExW(hModule, RT_DIALOG, MAKEINTRESOURCEW(IDD_PROXY_AUTH),
                                   MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED));
    if (!hRes)
        return false;
    const BYTE* p = static_cast<const BYTE*>(::LockResource(::LoadResource(hModule, hRes)));
    CTemplateReader r(p, ::SizeofResource(hModule, hRes));
    if (r.Read<WORD>() != 1 || r.Read<WORD>() != 0xFFFF)
        return false;
    r.Read<DWORD>();  // help id
    r.Read<DWORD>();  // extended style
    pOut->dialog.dwStyle = r.Read<DWORD>();
    WORD nItems = r.Read<WORD>();
    pOut->dialog.x = r.Read<short>();
    pOut->dialog.y = r.Read<short>();
    pOut->dialog.cx = r.Read<short>();
    pOut->dialog.cy = r.Read<short>();
    r.ReadNameOrOrdinal();  // menu
    pOut->dialog.strClass = r.ReadNameOrOrdinal();
    pOut->dialog.strText = r.ReadString();
    if (pOut->dialog.dwStyle & DS_SETFONT) {
        pOut->wPointSize = r.Read<WORD>();
        r.Read<WORD>();  // weight
        r.Read<BYTE>();  // italic
        r.Read<BYTE>();  // charset
        pOut->strFont = r.ReadString();
    }
    for (WORD i = 0; i < nItems; ++i) {
        r.AlignToDword();
        TemplateItem item;
        r.Read<DWORD>();  // help id
        r.Read<DWORD>();  // extended style
        item.dwStyle = r.Read<DWORD>();
        item.x = r.Read<short>();
        item.y = r.Read<short>();
        item.cx = r.Read<short>();
        item.cy = r.Read<short>();
        item.nId = static_cast<int>(r.Read<DWORD>());
        item.strClass = r.ReadNameOrOrdinal();
        item.strText = r.ReadNameOrOrdinal();
        WORD cbExtra = r.Read<WORD>();
        for (WORD b = 0; b < cbExtra; ++b)
            r.Read<BYTE>();
        pOut->items.push_back(item);
    }
    return r.Ok();
}

// The focused control of the thread that runs the dialog.
HWND FocusOf(HWND hDlg)
{
    GUITHREADINFO info = {sizeof(info)};
    ::GetGUIThreadInfo(::GetWindowThreadProcessId(hDlg, nullptr), &info);
    return info.hwndFocus;
}

std::wstring TextOf(HWND hWnd)
{
    wchar_t sz[256] = {};
    ::SendMessageW(hWnd, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(sz));
    return sz;
}

// Runs the prompt on a thread of its own with an owner window, in a COM
// apartment as the setup window's thread is.
struct CRunningPrompt {
    void Start()
    {
        m_pCall = std::make_unique<CBackgroundCall>([this] {
            ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
            m_nResult = m_dlg.DoModal();
            ::CoUninitialize();
        });
        m_hDlg = WaitForDialog(L"代理验证");
        ASSERT_NE(m_hDlg, nullptr) << "the prompt did not appear";
        m_hUser = ::GetDlgItem(m_hDlg, IDC_PROXY_USER);
        m_hPassword = ::GetDlgItem(m_hDlg, IDC_PROXY_PASSWORD);
    }
    // Waits for DoModal to return; false when it does not within 10 s.
    bool Finish() { return m_pCall && m_pCall->Wait(10000); }

    COwnerWindow m_owner;
    CProxyAuthDlg m_dlg{m_owner.Get()};
    INT_PTR m_nResult = 0;
    std::unique_ptr<CBackgroundCall> m_pCall;
    HWND m_hDlg = nullptr;
    HWND m_hUser = nullptr;
    HWND m_hPassword = nullptr;
};

// Whether the system's accessibility service takes names given to windows;
// Wine's answers that it does not implement it.
bool SystemKeepsAccessibleNames()
{
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IAccPropServices* pServices = nullptr;
    HRESULT hr = ::CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER, IID_IAccPropServices,
                                    reinterpret_cast<void**>(&pServices));
    if (SUCCEEDED(hr)) {
        HWND hWnd = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
        hr = pServices->SetHwndPropStr(hWnd, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, PROPID_ACC_NAME, L"x");
        pServices->ClearHwndProps(hWnd, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, &PROPID_ACC_NAME, 1);
        ::DestroyWindow(hWnd);
        pServices->Release();
    }
    ::CoUninitialize();
    return hr != E_NOTIMPL;
}

// A point of the dialog's close box, found the way the system finds it.
POINT CloseBoxPoint(HWND hDlg)
{
    RECT rc = {};
    ::GetWindowRect(hDlg, &rc);
    long nSumX = 0, nSumY = 0, nCount = 0;
    for (int y = rc.top; y < rc.top + 40; ++y) {
        for (int x = rc.right - 60; x < rc.right; ++x) {
            LRESULT hit = ::SendMessageW(hDlg, WM_NCHITTEST, 0, MAKELPARAM(x, y));
            if (hit == HTCLOSE) {
                nSumX += x;
                nSumY += y;
                ++nCount;
            }
        }
    }
    if (nCount == 0)
        return {-1, -1};
    return {nSumX / nCount, nSumY / nCount};
}

}  // namespace

TEST(ProxyAuthTemplate, MatchesTheLayout)
{
    DialogTemplate t;
    ASSERT_TRUE(LoadProxyDialogTemplate(&t));
    EXPECT_EQ(t.dialog.dwStyle, 0x80C800C0u);
    EXPECT_EQ(t.dialog.x, 0);
    EXPECT_EQ(t.dialog.y, 0);
    EXPECT_EQ(t.dialog.cx, 187);
    EXPECT_EQ(t.dialog.cy, 94);
    EXPECT_EQ(t.dialog.strText, L"代理验证");
    EXPECT_EQ(t.strFont, L"System");
    EXPECT_EQ(t.wPointSize, 10);

    const DWORD kChild = WS_CHILD | WS_VISIBLE;
    const TemplateItem expected[] = {
        {kChild | WS_TABSTOP | BS_DEFPUSHBUTTON, 25, 73, 50, 14, IDOK, L"#128", L"确定"},
        {kChild | WS_TABSTOP | BS_PUSHBUTTON, 110, 73, 50, 14, IDCANCEL, L"#128", L"取消"},
        {kChild | WS_GROUP | SS_LEFT, 32, 24, 33, 8, -1, L"#130", L"名称："},
        {kChild | WS_GROUP | SS_LEFT, 33, 46, 29, 16, -1, L"#130", L"密码："},
        {kChild | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 69, 22, 82, 14, IDC_PROXY_USER, L"#129", L""},
        {kChild | WS_BORDER | WS_TABSTOP | ES_PASSWORD | ES_AUTOHSCROLL, 70, 42, 80, 14, IDC_PROXY_PASSWORD, L"#129",
         L""},
    };
    ASSERT_EQ(t.items.size(), std::size(expected));
    for (size_t i = 0; i < t.items.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "control " << i + 1);
        const TemplateItem& got = t.items[i];
        const TemplateItem& want = expected[i];
        EXPECT_EQ(got.dwStyle, want.dwStyle) << std::hex << got.dwStyle;
        EXPECT_EQ(got.x, want.x);
        EXPECT_EQ(got.y, want.y);
        EXPECT_EQ(got.cx, want.cx);
        EXPECT_EQ(got.cy, want.cy);
        EXPECT_EQ(static_cast<short>(got.nId), want.nId);
        EXPECT_EQ(got.strClass, want.strClass);
        EXPECT_EQ(got.strText, want.strText);
    }
}

// The focus starts in the name field, where the user types first.
TEST(ProxyAuthDlg, OwnedModalWithFocusOnTheNameAndTabOrderOfTheTemplate)
{
    CRunningPrompt prompt;
    ASSERT_NO_FATAL_FAILURE(prompt.Start());
    EXPECT_EQ(::GetWindow(prompt.m_hDlg, GW_OWNER), prompt.m_owner.Get());
    EXPECT_FALSE(::IsWindowEnabled(prompt.m_owner.Get())) << "the owner takes no input while the prompt is open";
    EXPECT_EQ(TextOf(prompt.m_hUser), L"");
    EXPECT_EQ(TextOf(prompt.m_hPassword), L"");
    EXPECT_EQ(FocusOf(prompt.m_hDlg), prompt.m_hUser);

    // The statics take no focus: name, password, OK, Cancel, and round again.
    const int order[] = {IDC_PROXY_PASSWORD, IDOK, IDCANCEL, IDC_PROXY_USER};
    for (int nId : order) {
        ASSERT_EQ(Xdotool(prompt.m_hDlg, {"key Tab"}), 0);
        EXPECT_EQ(FocusOf(prompt.m_hDlg), ::GetDlgItem(prompt.m_hDlg, nId)) << "after Tab expected control " << nId;
    }
    ASSERT_EQ(Xdotool(prompt.m_hDlg, {"key Escape"}), 0);
    ASSERT_TRUE(prompt.Finish());
    EXPECT_TRUE(::IsWindowEnabled(prompt.m_owner.Get()));
}

// Both labels come before both fields in the template; each field still
// has a name of its own for a screen reader.
TEST(ProxyAuthDlg, EachFieldHasItsOwnName)
{
    if (!SystemKeepsAccessibleNames())
        GTEST_SKIP() << "this system's accessibility service keeps no names given to windows (Wine)";
    CRunningPrompt prompt;
    ASSERT_NO_FATAL_FAILURE(prompt.Start());
    EXPECT_EQ(AccessibleName(prompt.m_hUser), L"名称");
    EXPECT_EQ(AccessibleName(prompt.m_hPassword), L"密码");
    ASSERT_EQ(Xdotool(prompt.m_hDlg, {"key Escape"}), 0);
    ASSERT_TRUE(prompt.Finish());
}

TEST(ProxyAuthDlg, PasswordFieldShowsOnlyMaskCharacters)
{
    CRunningPrompt prompt;
    ASSERT_NO_FATAL_FAILURE(prompt.Start());
    ASSERT_EQ(Xdotool(prompt.m_hDlg, {XdoClick(prompt.m_hPassword), "type secret"}), 0);
    EXPECT_EQ(TextOf(prompt.m_hPassword), L"secret");
    EXPECT_NE(::GetWindowLongW(prompt.m_hPassword, GWL_STYLE) & ES_PASSWORD, 0);
    EXPECT_NE(::SendMessageW(prompt.m_hPassword, EM_GETPASSWORDCHAR, 0, 0), 0);
    EXPECT_EQ(::SendMessageW(prompt.m_hUser, EM_GETPASSWORDCHAR, 0, 0), 0);
    ASSERT_EQ(Xdotool(prompt.m_hDlg, {"key Escape"}), 0);
    ASSERT_TRUE(prompt.Finish());
}

// Enter in either field acts as OK: the OK button is the default button.
TEST(ProxyAuthDlg, EnterInEitherFieldReturnsWhatWasTyped)
{
    for (bool bEnterInUserField : {false, true}) {
        SCOPED_TRACE(bEnterInUserField ? "Enter in the name field" : "Enter in the password field");
        CRunningPrompt run;
        ASSERT_NO_FATAL_FAILURE(run.Start());
        std::string strReturnField = XdoClick(bEnterInUserField ? run.m_hUser : run.m_hPassword);
        ASSERT_EQ(Xdotool(run.m_hDlg, {XdoClick(run.m_hUser), "type alice", "key Tab", "type pa:ss-word", strReturnField,
                                       "key Return"}),
                  0);
        ASSERT_TRUE(run.Finish());
        EXPECT_EQ(run.m_nResult, IDOK);
        EXPECT_EQ(run.m_dlg.GetProxyUser(), L"alice");
        EXPECT_EQ(run.m_dlg.GetProxyPassword(), L"pa:ss-word");
    }
}

TEST(ProxyAuthDlg, OkWithEmptyFieldsReturnsEmptyStrings)
{
    CRunningPrompt prompt;
    ASSERT_NO_FATAL_FAILURE(prompt.Start());
    ASSERT_EQ(Xdotool(prompt.m_hDlg, {"key Return"}), 0);
    ASSERT_TRUE(prompt.Finish());
    EXPECT_EQ(prompt.m_nResult, IDOK);
    EXPECT_EQ(prompt.m_dlg.GetProxyUser(), L"");
    EXPECT_EQ(prompt.m_dlg.GetProxyPassword(), L"");
}

// The fields take more than the 63 units HttpDownload remembers; the cut
// happens there.
TEST(ProxyAuthDlg, FieldsTakeLongEntries)
{
    CRunningPrompt prompt;
    ASSERT_NO_FATAL_FAILURE(prompt.Start());
    const std::string strLong(80, 'x');
    ASSERT_EQ(Xdotool(prompt.m_hDlg, {XdoClick(prompt.m_hUser), "type --delay 2 " + strLong, "key Return"}), 0);
    ASSERT_TRUE(prompt.Finish());
    EXPECT_EQ(prompt.m_nResult, IDOK);
    EXPECT_EQ(prompt.m_dlg.GetProxyUser(), std::wstring(80, L'x'));
}

TEST(ProxyAuthDlg, EscapeAndTheCloseBoxKeepNothing)
{
    for (bool bCloseBox : {false, true}) {
        SCOPED_TRACE(bCloseBox ? "close box" : "Escape");
        CRunningPrompt run;
        ASSERT_NO_FATAL_FAILURE(run.Start());
        std::string strCancel = "key Escape";
        if (bCloseBox) {
            POINT pt = CloseBoxPoint(run.m_hDlg);
            ASSERT_GE(pt.x, 0) << "no close box on the caption";
            strCancel = "mousemove " + std::to_string(pt.x) + " " + std::to_string(pt.y) + " click 1";
        }
        ASSERT_EQ(Xdotool(run.m_hDlg, {XdoClick(run.m_hUser), "type bob", "key Tab", "type secret", strCancel}), 0);
        ASSERT_TRUE(run.Finish());
        EXPECT_EQ(run.m_nResult, IDCANCEL);
        EXPECT_EQ(run.m_dlg.GetProxyUser(), L"");
        EXPECT_EQ(run.m_dlg.GetProxyPassword(), L"");
    }
}

