#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

// A small modal-dialog class on plain Win32: the dialog is created from a
// template in the exe's resources, each message is offered to the object
// through OnMessage, and OnOK/OnCancel end the modal loop.
class CDialog {
public:
    CDialog(UINT nIDTemplate, HWND hWndParent);
    virtual ~CDialog();
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // Runs the dialog modally; returns the EndDialog code, or -1 when the
    // dialog could not be created.
    INT_PTR DoModal();
    void EndDialog(INT_PTR nResult);

    HWND GetSafeHwnd() const { return m_hWnd; }
    HWND GetParentWnd() const { return m_hWndParent; }
    void SetParentWnd(HWND hWndParent) { m_hWndParent = hWndParent; }

    // Moves the data between the controls and the members: from the
    // controls when bSaveAndValidate is true. Returns false to keep the
    // dialog open.
    bool UpdateData(bool bSaveAndValidate);

protected:
    virtual BOOL OnInitDialog();
    virtual bool DoDataExchange(bool bSaveAndValidate);
    virtual void OnOK();
    virtual void OnCancel();
    // Returns true when the message was handled; *pResult is the result.
    virtual bool OnMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT* pResult);

    HWND m_hWnd = nullptr;

private:
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam);

    UINT m_nIDTemplate;
    HWND m_hWndParent;
};

// Data exchange for an edit control holding at most cchBuffer - 1 units.
// Saving copies the text, cut at the buffer's end, into pszBuffer; loading
// puts pszBuffer into the control and limits what the user can type.
void DdxText(HWND hDlg, int nID, wchar_t* pszBuffer, size_t cchBuffer, bool bSaveAndValidate);

// Data exchange for an edit control and a string of any length.
void DdxText(HWND hDlg, int nID, std::wstring& str, bool bSaveAndValidate);
