#include "engine/SetupCommandLine.h"

#include "framework/StringCompare.h"
#include "zip/ItemNameRule.h"

#include <cwctype>

namespace {

constexpr unsigned long kErrorDiskFull = 112;        // ERROR_DISK_FULL
constexpr unsigned long kErrorHandleDiskFull = 39;   // ERROR_HANDLE_DISK_FULL

bool IsBlank(wchar_t ch)
{
    return ch == L' ' || ch == L'\t';
}

bool IsSwitchStart(wchar_t ch)
{
    return ch == L'/' || ch == L'-';
}

// The text without one pair of enclosing quotes and without the blanks
// around it.
std::wstring Unquoted(std::wstring str)
{
    while (!str.empty() && IsBlank(str.back()))
        str.pop_back();
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
        if (strToken.size() != 2 || !IsSwitchStart(strToken[0]) || std::towupper(strToken[1]) != L'S')
            return false;
        pCommandLine->bSilent = true;
        i = nEnd;
    }
}

bool NormalizeCommandLineFolder(const std::wstring& strGiven, std::wstring* pstrFolder)
{
    std::wstring str = strGiven;
    for (wchar_t& ch : str) {
        if (ch == L'/')
            ch = L'\\';
        if (ch < 0x20 || ch == L'<' || ch == L'>' || ch == L'"' || ch == L'|' || ch == L'?' || ch == L'*')
            return false;
    }
    const bool bDrive = str.size() >= 3 && std::iswalpha(str[0]) && str[1] == L':' && str[2] == L'\\';
    const bool bShare = str.size() >= 5 && str[0] == L'\\' && str[1] == L'\\' && str[2] != L'\\' &&
                        str[2] != L'?' && str[2] != L'.';
    if (!bDrive && !bShare)
        return false;
    if (str.find(L':', 2) != std::wstring::npos)
        return false;

    // Components are rebuilt one by one: "." is dropped, ".." and names of
    // only dots or blanks are refused rather than resolved.
    std::wstring strOut = bDrive ? str.substr(0, 3) : L"\\\\";
    size_t nStart = bDrive ? 3 : 2;
    size_t nComponents = 0;
    while (nStart <= str.size()) {
        size_t nEnd = str.find(L'\\', nStart);
        if (nEnd == std::wstring::npos)
            nEnd = str.size();
        const std::wstring strPart = str.substr(nStart, nEnd - nStart);
        nStart = nEnd + 1;
        if (strPart.empty() || strPart == L".")
            continue;
        if (strPart.find_first_not_of(L". ") == std::wstring::npos || IsBlank(strPart.back()) ||
            strPart.back() == L'.' || IsDeviceName(strPart.c_str(), strPart.size()))
            return false;
        if (strOut.back() != L'\\')
            strOut += L'\\';
        strOut += strPart;
        ++nComponents;
    }
    // A share needs its server and share names.
    if (bShare && nComponents < 2)
        return false;
    *pstrFolder = strOut;
    return true;
}

bool IsInWindowsFolder(const std::wstring& strFolder, const std::wstring& strWindowsFolder)
{
    std::wstring strBase = strWindowsFolder;
    while (!strBase.empty() && strBase.back() == L'\\')
        strBase.pop_back();
    if (strBase.empty() || strFolder.size() < strBase.size() ||
        !EqualIgnoringCase(strFolder.c_str(), strBase.c_str(), strBase.size()))
        return false;
    return strFolder.size() == strBase.size() || strFolder[strBase.size()] == L'\\';
}

int ExitCodeFor(const InstallOutcome& outcome)
{
    if (outcome.bStarted && outcome.bFinished && outcome.bSucceeded)
        return kExitInstalled;
    if (!outcome.bStarted || outcome.bStopRequested)
        return kExitUserClosed;
    if (outcome.dwLastError == kErrorDiskFull || outcome.dwLastError == kErrorHandleDiskFull)
        return kExitDiskFull;
    return kExitFailed;
}
