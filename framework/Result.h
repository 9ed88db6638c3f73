#pragma once

#include <windows.h>

// How a step ended: success, or the system's error code and the call or
// step that failed, for the log line that says why.
class Result {
public:
    Result() = default;
    // A failure without a code of its own counts as ERROR_GEN_FAILURE, so
    // that it never reads as success.
    static Result Failed(const wchar_t* pszWhat, DWORD dwError)
    {
        Result result;
        result.m_pszWhat = pszWhat;
        result.m_dwError = dwError == ERROR_SUCCESS ? ERROR_GEN_FAILURE : dwError;
        return result;
    }
    // The calling thread's last error, for the call that just failed.
    static Result LastError(const wchar_t* pszWhat) { return Failed(pszWhat, ::GetLastError()); }

    bool Ok() const { return m_dwError == ERROR_SUCCESS; }
    explicit operator bool() const { return Ok(); }
    DWORD Error() const { return m_dwError; }
    // Empty on success.
    const wchar_t* What() const { return m_pszWhat; }

private:
    DWORD m_dwError = ERROR_SUCCESS;
    const wchar_t* m_pszWhat = L"";
};
