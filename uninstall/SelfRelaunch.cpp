#include "uninstall/SelfRelaunch.h"

#include "framework/ScopedHandle.h"
#include "framework/StringCompare.h"
#include "system/ClientFiles.h"
#include "system/FolderSwap.h"
#include "system/PathFormat.h"

#include <sddl.h>

#include <cwchar>
#include <vector>

namespace {

// 128 bits from the system's generator as hex: a name nobody can guess and
// prepare beforehand. Empty when the generator fails.
std::wstring RandomName()
{
    return RandomHex(16);
}

// The running user's SID as text ("S-1-5-..."); empty when unreadable.
std::wstring TokenUserSid()
{
    ScopedHandle token;
    alignas(TOKEN_USER) BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD cb = 0;
    ScopedLocal text;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.Put()) ||
        !::GetTokenInformation(token.Get(), TokenUser, buffer, sizeof(buffer), &cb) ||
        !::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid,
                                  reinterpret_cast<wchar_t**>(text.Put())))
        return std::wstring();
    return static_cast<const wchar_t*>(text.Get());
}

// A new folder only SYSTEM, the Administrators and the running user may
// use, nothing inherited from the temp folder, which every user may write
// to. False when the name exists: a folder found there may hold anything.
bool CreatePrivateFolder(const wchar_t* pszDir)
{
    const std::wstring strUser = TokenUserSid();
    if (strUser.empty())
        return false;
    const std::wstring strSddl = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" + strUser + L")";
    ScopedLocal descriptor;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(
            strSddl.c_str(), SDDL_REVISION_1, reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.Put()), nullptr))
        return false;
    SECURITY_ATTRIBUTES sa = {sizeof(sa), descriptor.Get(), FALSE};
    return ::CreateDirectoryW(pszDir, &sa) != 0;
}

bool ReadWhole(HANDLE hFile, std::vector<BYTE>* pBytes)
{
    LARGE_INTEGER size = {};
    if (!::GetFileSizeEx(hFile, &size) || size.QuadPart > 64 * 1024 * 1024)
        return false;
    pBytes->resize(static_cast<size_t>(size.QuadPart));
    DWORD cbRead = 0;
    return pBytes->empty() ||
           (::ReadFile(hFile, pBytes->data(), static_cast<DWORD>(pBytes->size()), &cbRead, nullptr) &&
            cbRead == pBytes->size());
}

// Writes this program's bytes into a new file (a create that fails on any
// name already there, never writing through it), then opens it for reading
// with nobody else allowed to write, rename or delete it, and checks that it
// still holds those bytes. INVALID_HANDLE_VALUE on any failure.
HANDLE WriteHeldCopy(const wchar_t* pszSource, const wchar_t* pszTarget)
{
    std::vector<BYTE> bytes;
    ScopedFile source(::CreateFileW(pszSource, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!source || !ReadWhole(source.Get(), &bytes))
        return INVALID_HANDLE_VALUE;
    {
        ScopedFile target(::CreateFileW(pszTarget, GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
        DWORD cbWritten = 0;
        if (!target ||
            !::WriteFile(target.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &cbWritten, nullptr) ||
            cbWritten != bytes.size())
            return INVALID_HANDLE_VALUE;
    }
    ScopedFile held(::CreateFileW(pszTarget, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    std::vector<BYTE> written;
    if (!held || !ReadWhole(held.Get(), &written) || written != bytes)
        return INVALID_HANDLE_VALUE;
    return held.Release();
}

}  // namespace

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
    const std::wstring strName = RandomName();
    wchar_t szDir[MAX_PATH];
    wchar_t szCopy[MAX_PATH];
    if (cchSelf == 0 || cchSelf >= MAX_PATH || cchTemp == 0 || cchTemp >= MAX_PATH || strName.empty() ||
        !FormatPath(szDir, L"%lsFenmoraUninstall-%ls", szTemp, strName.c_str()) ||
        !FormatPath(szCopy, L"%ls\\%ls", szDir, kUninstallerName) || !CreatePrivateFolder(szDir))
        return false;

    // Until the child runs, nobody may change the copy or put another file
    // in its place.
    ScopedFile held(WriteHeldCopy(szSelf, szCopy));
    auto discard = [&] {
        held.Reset();
        ::DeleteFileW(szCopy);
        ::RemoveDirectoryW(szDir);
        return false;
    };
    ScopedHandle self;
    if (!held || !::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentProcess(), ::GetCurrentProcess(), self.Put(),
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
    held.Reset();
    // Needs the rights an uninstaller runs with; without them the copy
    // stays in the temp folder, which the system cleans up.
    ::MoveFileExW(szCopy, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    ::MoveFileExW(szDir, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    return true;
}
