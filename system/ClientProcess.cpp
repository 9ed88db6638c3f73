#include "system/ClientProcess.h"

#include "framework/ScopedHandle.h"
#include "framework/StringCompare.h"
#include "log/Log.h"
#include "system/ClientFiles.h"
#include "system/PathFormat.h"

#include <psapi.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <cwchar>

namespace {

// The snapshot reports failure with INVALID_HANDLE_VALUE.
using ScopedSnapshot = CScopedHandle<FileHandleTraits>;

// The main module's path; the image path where the module list cannot be
// read (a 64-bit process seen from this 32-bit one).
void ReadImagePath(HANDLE hProcess, wchar_t (&szPath)[MAX_PATH])
{
    std::wmemset(szPath, 0, MAX_PATH);
    if (::GetModuleFileNameExW(hProcess, nullptr, szPath, MAX_PATH) != 0)
        return;
    DWORD cch = MAX_PATH;
    if (!::QueryFullProcessImageNameW(hProcess, 0, szPath, &cch))
        std::wmemset(szPath, 0, MAX_PATH);
}

}  // namespace

bool EnableDebugPrivilege()
{
    ScopedHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, token.Put()))
        return false;
    TOKEN_PRIVILEGES tp = {};
    if (!::LookupPrivilegeValueW(nullptr, SE_DEBUG_NAME, &tp.Privileges[0].Luid))
        return false;
    tp.PrivilegeCount = 1;
    tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    // Succeeds also when the token does not hold the privilege; only the
    // error code tells.
    if (!::AdjustTokenPrivileges(token.Get(), FALSE, &tp, sizeof(tp), nullptr, nullptr))
        return false;
    return ::GetLastError() == ERROR_SUCCESS;
}

bool IsProgramInFolder(const wchar_t* pszImagePath, const wchar_t* pszFolder, const wchar_t* pszExeName)
{
    wchar_t szExpected[MAX_PATH];
    if (!pszImagePath || !*pszImagePath || !FormatPath(szExpected, L"%ls\\%ls", pszFolder, pszExeName))
        return false;
    return EqualIgnoringCase(pszImagePath, szExpected);
}

bool FindProcess(const wchar_t* pszExeName, const wchar_t* pszFolder)
{
    if (!pszExeName || !*pszExeName || !pszFolder || !*pszFolder)
        return false;
    ScopedSnapshot snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot)
        return false;

    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL bMore = ::Process32FirstW(snapshot.Get(), &entry); bMore;
         bMore = ::Process32NextW(snapshot.Get(), &entry)) {
        if (EqualIgnoringCase(entry.szExeFile, pszExeName)) {
            EnableDebugPrivilege();
            ScopedHandle process(
                ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, entry.th32ProcessID));
            if (process) {
                wchar_t szImage[MAX_PATH];
                ReadImagePath(process.Get(), szImage);
                LogNormal(L"[FindProcess] Path=%ls", szImage);
                if (IsProgramInFolder(szImage, pszFolder, pszExeName))
                    return true;
            }
        }
        entry = {};
        entry.dwSize = sizeof(entry);
    }
    return false;
}

bool StartInstalledClient(const wchar_t* pszSetupPath)
{
    wchar_t szProgram[MAX_PATH] = {};
    if (!pszSetupPath || !ComposeClientProgramPath(pszSetupPath, szProgram))
        return false;
    HINSTANCE hResult = ::ShellExecuteW(nullptr, L"open", szProgram, nullptr, pszSetupPath, SW_SHOWNORMAL);
    // Values above 32 mean success.
    return reinterpret_cast<INT_PTR>(hResult) > 32;
}
