#include "tests/support/UnixProgram.h"

#include <windows.h>

bool StartUnixProgram(const wchar_t* pszProgram, std::wstring strCommandLine)
{
    STARTUPINFOW si = {sizeof(si)};
    PROCESS_INFORMATION pi = {};
    return ::CreateProcessW(pszProgram, &strCommandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                            &pi) != FALSE;
}
