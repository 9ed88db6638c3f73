#pragma once

#include <string>

// Starts a Unix program (a full path such as L"Z:\\bin\\ln", or nullptr to
// take it from the command line) from a test running under Wine. Wine hands
// back no handles for a Unix child and leaves stale stack values in the
// handle fields; closing those would close some other handle of the test
// process, such as a running thread's. The child cannot be waited for:
// callers watch for its effect instead.
bool StartUnixProgram(const wchar_t* pszProgram, std::wstring strCommandLine);
