#pragma once

#include "tests/support/TempDir.h"

#include <windows.h>

#include <string>
#include <vector>

// Sends the log to a fresh file of the test's own for the life of the
// object, then puts the previous log path back.
class CLogCapture {
public:
    CLogCapture();
    ~CLogCapture();
    CLogCapture(const CLogCapture&) = delete;
    CLogCapture& operator=(const CLogCapture&) = delete;

    // Every line as its level tag followed by the message, the date, time
    // and ids left out: "[Error][CSetupDlg::Execute] ...". Lines that
    // continue a message with line ends of its own come as they are.
    std::vector<std::wstring> Messages() const;
    // The whole file as written.
    std::wstring Text() const;
    bool Contains(const std::wstring& str) const { return Text().find(str) != std::wstring::npos; }
    size_t Count(const std::wstring& str) const;
    void Clear();

private:
    CTempDir m_dir;
    std::wstring m_strFile;
    wchar_t m_szSaved[MAX_PATH];
};
