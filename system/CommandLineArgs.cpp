#include "system/CommandLineArgs.h"

#include "zip/ItemNameRule.h"

#include <algorithm>

namespace {

bool IsAsciiLetter(wchar_t ch)
{
    return (ch >= L'A' && ch <= L'Z') || (ch >= L'a' && ch <= L'z');
}

// Marks that turn the direction of text: the folder would read otherwise
// than it is wherever it is shown.
bool IsDirectionControl(wchar_t ch)
{
    return ch == 0x061C || ch == 0x200E || ch == 0x200F || (ch >= 0x202A && ch <= 0x202E) ||
           (ch >= 0x2066 && ch <= 0x2069);
}

// A server as a host name or an IPv4 address spells it. This leaves out
// what the redirector reads otherwise, as a provider (";Name") or a name
// with blanks.
bool IsServerName(const std::wstring& strName)
{
    return std::all_of(strName.begin(), strName.end(), [](wchar_t ch) {
        return IsAsciiLetter(ch) || (ch >= L'0' && ch <= L'9') || ch == L'-' || ch == L'_' || ch == L'.';
    });
}

// The shares through which a server's pipes and mailslots are reached, and
// its administrative ones, which reach its drives and system folders.
bool IsRefusedShare(const std::wstring& strName)
{
    const size_t cch = strName.size();
    return EqualsAsciiIgnoringCase(strName.c_str(), cch, "PIPE") ||
           EqualsAsciiIgnoringCase(strName.c_str(), cch, "MAILSLOT") ||
           EqualsAsciiIgnoringCase(strName.c_str(), cch, "ADMIN$") ||
           EqualsAsciiIgnoringCase(strName.c_str(), cch, "IPC$") ||
           EqualsAsciiIgnoringCase(strName.c_str(), cch, "PRINT$") ||
           (cch == 2 && IsAsciiLetter(strName[0]) && strName[1] == L'$');
}

}  // namespace

bool IsSwitchStart(wchar_t ch)
{
    return ch == L'/' || ch == L'-';
}

bool IsSilentSwitch(const std::wstring& strArg)
{
    return strArg.size() == 2 && IsSwitchStart(strArg[0]) && (strArg[1] == L'S' || strArg[1] == L's');
}

bool NormalizeFolderPath(const std::wstring& strGiven, std::wstring* pstrFolder)
{
    std::wstring str = strGiven;
    for (wchar_t& ch : str) {
        if (ch == L'/')
            ch = L'\\';
        if (ch < 0x20 || ch == L'<' || ch == L'>' || ch == L'"' || ch == L'|' || ch == L'?' || ch == L'*' ||
            IsDirectionControl(ch))
            return false;
    }
    const bool bDrive = str.size() >= 3 && IsAsciiLetter(str[0]) && str[1] == L':' && str[2] == L'\\';
    const bool bShare =
        str.size() >= 5 && str[0] == L'\\' && str[1] == L'\\' && str[2] != L'\\' && str[2] != L'?' && str[2] != L'.';
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
        if (strPart.find_first_not_of(L". ") == std::wstring::npos || strPart.back() == L' ' ||
            strPart.back() == L'.' || IsDeviceName(strPart.c_str(), strPart.size()))
            return false;
        if (bShare && ((nComponents == 0 && !IsServerName(strPart)) || (nComponents == 1 && IsRefusedShare(strPart))))
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
