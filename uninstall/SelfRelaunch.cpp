#include "uninstall/SelfRelaunch.h"

#include "framework/ScopedHandle.h"
#include "framework/StringCompare.h"
#include "system/ClientFiles.h"
#include "system/PathFormat.h"

#include <cwchar>

bool IsInsideFolder(const std::wstring& strPath, const std::wstring& strFolder)
{
    if (strFolder.empty() || strPath.size() <= strFolder.size() ||
        (strPath[strFolder.size()] != L'\\' && strPath[strFolder.size()] != L'/'))
        return false;
    return EqualIgnoringCase(strPath.c_str(), strFolder.c_str(), strFolder.size());
}

std::wstring ComposeRelaunchCommandLine(const std::wstring& strCopy, const std::wstring& strFolder, HANDLE hWaitFor,
                                        bool bSilent)
{
    // Neither path can hold a quote, and the folder has no trailing
    // backslash that would escape its closing quote.
    return L"\"" + strCopy + L"\" \"" + strFolder + L"\" /W=" +
           std::to_wstring(static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(hWaitFor))) +
           (bSilent ? L" /S" : L"");
}

bool RelaunchFromTemp(const std::wstring& strFolder, bool bSilent)
{
    wchar_t szSelf[MAX_PATH];
    wchar_t szTemp[MAX_PATH];
    DWORD cchSelf = ::GetModuleFileNameW(nullptr, szSelf, MAX_PATH);
    DWORD cchTemp = ::GetTempPathW(MAX_PATH, szTemp);
    if (cchSelf == 0 || cchSelf >= MAX_PATH || cchTemp == 0 || cchTemp >= MAX_PATH)
        return false;

    wchar_t szDir[MAX_PATH];
    bool bMade = false;
    for (unsigned n = 0; n < 100 && !bMade; ++n)
        bMade = FormatPath(szDir, L"%lsFenmoraUninstall-%lu-%u", szTemp, ::GetCurrentProcessId(), n) &&
                ::CreateDirectoryW(szDir, nullptr);
    wchar_t szCopy[MAX_PATH];
    if (!bMade || !FormatPath(szCopy, L"%ls\\%ls", szDir, kUninstallerName) || !::CopyFileW(szSelf, szCopy, FALSE)) {
        if (bMade)
            ::RemoveDirectoryW(szDir);
        return false;
    }

    auto discard = [&szCopy, &szDir] {
        ::DeleteFileW(szCopy);
        ::RemoveDirectoryW(szDir);
        return false;
    };
    ScopedHandle self;
    if (!::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentProcess(), ::GetCurrentProcess(), self.Put(),
                           SYNCHRONIZE, TRUE, 0))
        return discard();
    std::wstring strCommandLine = ComposeRelaunchCommandLine(szCopy, strFolder, self.Get(), bSilent);
    STARTUPINFOW si = {sizeof(si)};
    PROCESS_INFORMATION pi = {};
    // The copy starts in its own folder, so nothing holds the install
    // folder as a working folder.
    if (!::CreateProcessW(szCopy, &strCommandLine[0], nullptr, nullptr, TRUE, 0, nullptr, szDir, &si, &pi))
        return discard();
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    // Needs the rights an uninstaller runs with; without them the copy
    // stays in the temp folder, which the system cleans up.
    ::MoveFileExW(szCopy, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    ::MoveFileExW(szDir, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    return true;
}
