#include "ui/MsgStatic.h"

namespace {

constexpr COLORREF kDefaultTextColor = RGB(51, 47, 46);

}  // namespace

MsgStatic::MsgStatic() : m_crText(kDefaultTextColor)
{
    LOGBRUSH lb = {BS_SOLID, RGB(255, 255, 255), 0};
    m_hBkBrush.Reset(::CreateBrushIndirect(&lb));
}

MsgStatic::~MsgStatic()
{
    if (m_hWnd)
        ::DestroyWindow(m_hWnd);
}

bool MsgStatic::Create(const wchar_t* pszText, DWORD dwStyle, const RECT& rc, HWND hWndParent, UINT nID)
{
    m_hWnd = ::CreateWindowExW(0, L"STATIC", pszText, dwStyle | WS_CHILD, rc.left, rc.top, rc.right - rc.left,
                               rc.bottom - rc.top, hWndParent, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(nID)),
                               ::GetModuleHandleW(nullptr), nullptr);
    return m_hWnd != nullptr;
}

HBRUSH MsgStatic::CtlColor(HDC hdc, UINT)
{
    ::SetTextColor(hdc, m_crText);
    ::SetBkMode(hdc, TRANSPARENT);
    return static_cast<HBRUSH>(m_hBkBrush.Get());
}
