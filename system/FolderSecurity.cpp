#include "system/FolderSecurity.h"

#include "framework/SafeFile.h"
#include "framework/ScopedHandle.h"
#include "system/ClientProcess.h"
#include "system/DeleteFolder.h"

#include <aclapi.h>
#include <sddl.h>

namespace {

// Inherited by everything below: full control (FA) for SYSTEM and the
// Administrators, read and execute (0x1200a9) for Users. "P": protected.
constexpr wchar_t kFolderSddl[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

HANDLE OpenFolder(const wchar_t* pszFolder, DWORD dwAccess)
{
    return ::CreateFileW(pszFolder, dwAccess | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// Makes the Administrators the owner, which lets them set the DACL.
DWORD TakeOwnership(const wchar_t* pszFolder)
{
    EnablePrivilege(SE_TAKE_OWNERSHIP_NAME);
    EnablePrivilege(SE_RESTORE_NAME);
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD cbSid = sizeof(sid);
    if (!::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &cbSid))
        return ::GetLastError();
    ScopedFile folder(OpenFolder(pszFolder, WRITE_OWNER));
    if (!folder)
        return ::GetLastError();
    if (!IsPlainEntryAt(folder.Get(), pszFolder))
        return ERROR_REPARSE_ATTRIBUTE_CONFLICT;
    return ::SetSecurityInfo(folder.Get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, sid, nullptr, nullptr, nullptr);
}

Result SetFolderDacl(const wchar_t* pszFolder, PACL pDacl)
{
    ScopedFile folder(OpenFolder(pszFolder, WRITE_DAC | READ_CONTROL));
    if (!folder)
        return Result::LastError(L"open");
    if (!IsPlainEntryAt(folder.Get(), pszFolder))
        return Result::Failed(L"is a link", ERROR_REPARSE_ATTRIBUTE_CONFLICT);
    const DWORD dwError =
        ::SetSecurityInfo(folder.Get(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                          nullptr, nullptr, pDacl, nullptr);
    return dwError == ERROR_SUCCESS ? Result() : Result::Failed(L"SetSecurityInfo", dwError);
}

}  // namespace

Result CreateProtectedFolder(const wchar_t* pszFolder)
{
    ScopedLocal descriptor;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(kFolderSddl, SDDL_REVISION_1, descriptor.Put(),
                                                                nullptr))
        return Result::LastError(L"ConvertStringSecurityDescriptorToSecurityDescriptor");
    SECURITY_ATTRIBUTES sa = {sizeof(sa), descriptor.Get(), FALSE};
    if (!::CreateDirectoryW(pszFolder, &sa))
        return Result::LastError(L"CreateDirectory");
    return Result();
}

Result SecureFolder(const wchar_t* pszFolder)
{
    ScopedLocal descriptor;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(kFolderSddl, SDDL_REVISION_1, descriptor.Put(),
                                                                nullptr))
        return Result::LastError(L"ConvertStringSecurityDescriptorToSecurityDescriptor");
    BOOL bPresent = FALSE;
    BOOL bDefaulted = FALSE;
    PACL pDacl = nullptr;
    if (!::GetSecurityDescriptorDacl(descriptor.Get(), &bPresent, &pDacl, &bDefaulted))
        return Result::LastError(L"ConvertStringSecurityDescriptorToSecurityDescriptor");

    SECURITY_ATTRIBUTES sa = {sizeof(sa), descriptor.Get(), FALSE};
    if (!::CreateDirectoryW(pszFolder, &sa) && ::GetLastError() != ERROR_ALREADY_EXISTS)
        return Result::LastError(L"CreateDirectory");
    // Set also on a folder just made: one made by another user between the
    // failed create and here is what this is for.
    Result result = SetFolderDacl(pszFolder, pDacl);
    // A link in the folder's place goes as a link, and the folder is made.
    if (result.Error() == ERROR_REPARSE_ATTRIBUTE_CONFLICT && DeleteFolder(pszFolder)) {
        if (!::CreateDirectoryW(pszFolder, &sa))
            return Result::LastError(L"CreateDirectory");
        result = SetFolderDacl(pszFolder, pDacl);
    }
    if (result.Error() != ERROR_ACCESS_DENIED)
        return result;
    const DWORD dwError = TakeOwnership(pszFolder);
    if (dwError != ERROR_SUCCESS)
        return Result::Failed(L"take ownership", dwError);
    return SetFolderDacl(pszFolder, pDacl);
}
