#include "engine/SetupCommandLine.h"

#include "system/CommandLineArgs.h"

#include <cwctype>

namespace {

constexpr unsigned long kErrorDiskFull = 112;       // ERROR_DISK_FULL
constexpr unsigned long kErrorHandleDiskFull = 39;  // ERROR_HANDLE_DISK_FULL

bool IsBlank(wchar_t ch)
{
    return ch == L' ' || ch == L'\t';
}

// The text without the blanks around it and one pair of enclosing quotes.
std::wstring Unquoted(std::wstring str)
{
    while (!str.empty() && IsBlank(str.back()))
        str.pop_back();
    size_t nFirst = 0;
    while (nFirst < str.size() && IsBlank(str[nFirst]))
        ++nFirst;
    str.erase(0, nFirst);
    if (str.size() >= 2 && str.front() == L'"' && str.back() == L'"')
        str = str.substr(1, str.size() - 2);
    return str;
}

}  // namespace

bool ParseSetupCommandLine(const wchar_t* pszArgs, SetupCommandLine* pCommandLine)
{
    *pCommandLine = {};
    const std::wstring strArgs = pszArgs ? pszArgs : L"";
    size_t i = 0;
    for (;;) {
        while (i < strArgs.size() && IsBlank(strArgs[i]))
            ++i;
        if (i == strArgs.size())
            return true;
        if (i + 3 <= strArgs.size() && IsSwitchStart(strArgs[i]) && std::towupper(strArgs[i + 1]) == L'D' &&
            strArgs[i + 2] == L'=') {
            pCommandLine->strFolder = Unquoted(strArgs.substr(i + 3));
            return !pCommandLine->strFolder.empty();
        }
        size_t nEnd = i;
        while (nEnd < strArgs.size() && !IsBlank(strArgs[nEnd]))
            ++nEnd;
        const std::wstring strToken = Unquoted(strArgs.substr(i, nEnd - i));
        if (!IsSilentSwitch(strToken))
            return false;
        pCommandLine->bSilent = true;
        i = nEnd;
    }
}

int ExitCodeFor(const InstallOutcome& outcome, bool bSilent)
{
    if (outcome.bStarted && outcome.bFinished && outcome.bSucceeded && (outcome.bRegistered || !bSilent))
        return kExitInstalled;
    if ((!outcome.bStarted && !bSilent) || outcome.bStopRequested)
        return kExitUserClosed;
    if (outcome.dwLastError == kErrorDiskFull || outcome.dwLastError == kErrorHandleDiskFull)
        return kExitDiskFull;
    return kExitFailed;
}
