#pragma once

#include "framework/ScopedHandle.h"

#include <windows.h>

// The window's label: a static text control on a white background whose
// text colour can be set. The parent hands it the control-colour message
// of its own window (CtlColor).
class MsgStatic {
public:
    MsgStatic();
    ~MsgStatic();
    MsgStatic(const MsgStatic&) = delete;
    MsgStatic& operator=(const MsgStatic&) = delete;

    // Creates the child control; the style carries the text alignment.
    bool Create(const wchar_t* pszText, DWORD dwStyle, const RECT& rc, HWND hWndParent, UINT nID);
    // Forgets the control, which its parent is destroying.
    void Detach() { m_hWnd = nullptr; }
    HWND GetSafeHwnd() const { return m_hWnd; }

    // Takes effect at the next repaint of the label.
    void SetTextColor(COLORREF crText) { m_crText = crText; }
    COLORREF GetTextColor() const { return m_crText; }
    // Sets the text colour and a transparent text background on the
    // label's device context; returns the brush that fills the label.
    HBRUSH CtlColor(HDC hdc, UINT nCtlColor);

private:
    HWND m_hWnd = nullptr;
    COLORREF m_crText;
    ScopedGdiObject m_hBkBrush;
};
