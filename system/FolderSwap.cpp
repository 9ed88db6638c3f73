#include "system/FolderSwap.h"

#include "framework/SafeFile.h"
#include "framework/ScopedHandle.h"
#include "framework/StringCompare.h"
#include "system/DeleteFolder.h"

#include <aclapi.h>
#include <ntsecapi.h>

#include <cstring>
#include <cwchar>
#include <vector>

namespace {

// Enough for a name nobody can prepare in numbers: a taken name fails the
// create, and the run makes another. Short, so that the staged paths stay
// within reach of the longest installed path.
constexpr size_t kSiblingRandomBytes = 4;

// Entries left below the folder, deepest first, so that the system's
// start removes each folder after what it holds; a link as a link, never
// what it leads to.
void CollectLeft(const std::wstring& strFolder, std::vector<std::wstring>* pLeft)
{
    const DWORD dwAttributes = ::GetFileAttributesW(strFolder.c_str());
    if (dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        pLeft->push_back(strFolder);
        return;
    }
    WIN32_FIND_DATAW fd;
    ScopedFind find(::FindFirstFileW((strFolder + L"\\*").c_str(), &fd));
    if (find) {
        do {
            const std::wstring strName = fd.cFileName;
            if (strName == L"." || strName == L"..")
                continue;
            const std::wstring strPath = strFolder + L"\\" + strName;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                CollectLeft(strPath, pLeft);
            else
                pLeft->push_back(strPath);
        } while (::FindNextFileW(find.Get(), &fd));
    }
    pLeft->push_back(strFolder);
}

bool SameSid(PSID pSid, WELL_KNOWN_SID_TYPE type)
{
    BYTE known[SECURITY_MAX_SID_SIZE];
    DWORD cb = sizeof(known);
    return ::CreateWellKnownSid(type, nullptr, known, &cb) && ::EqualSid(pSid, known);
}

bool IsProcessUser(PSID pSid)
{
    ScopedHandle token;
    alignas(TOKEN_USER) BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD cb = 0;
    return ::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.Put()) &&
           ::GetTokenInformation(token.Get(), TokenUser, buffer, sizeof(buffer), &cb) &&
           ::EqualSid(pSid, reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid);
}

// The entry itself, a link included, never what a link leads to.
bool IsMadeByAnAdministrator(const std::wstring& strPath)
{
    ScopedFile entry(::CreateFileW(strPath.c_str(), READ_CONTROL,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    PSID pOwner = nullptr;
    ScopedLocal descriptor;
    if (!entry || ::GetSecurityInfo(entry.Get(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &pOwner, nullptr, nullptr,
                                    nullptr, descriptor.Put()) != ERROR_SUCCESS)
        return false;
    return SameSid(pOwner, WinBuiltinAdministratorsSid) || SameSid(pOwner, WinLocalSystemSid) || IsProcessUser(pOwner);
}

}  // namespace

std::wstring RandomHex(size_t nBytes)
{
    std::vector<BYTE> bytes(nBytes);
    if (!::RtlGenRandom(bytes.data(), static_cast<ULONG>(bytes.size())))
        return std::wstring();
    std::wstring strHex;
    for (BYTE b : bytes) {
        wchar_t szByte[3];
        std::swprintf(szByte, 3, L"%02x", b);
        strHex += szByte;
    }
    return strHex;
}

std::wstring RandomSibling(const wchar_t* pszFolder)
{
    const std::wstring strHex = RandomHex(kSiblingRandomBytes);
    const std::wstring strSibling = std::wstring(pszFolder) + L"." + strHex;
    return strHex.empty() || strSibling.size() >= MAX_PATH ? std::wstring() : strSibling;
}

bool IsSiblingName(const std::wstring& strName, const wchar_t* pszFolderName)
{
    const size_t cchFolder = std::wcslen(pszFolderName);
    const size_t cchHex = 2 * kSiblingRandomBytes;
    if (strName.size() != cchFolder + 1 + cchHex || strName[cchFolder] != L'.' ||
        !EqualIgnoringCase(strName.substr(0, cchFolder).c_str(), pszFolderName))
        return false;
    for (size_t i = cchFolder + 1; i < strName.size(); ++i) {
        const wchar_t ch = strName[i];
        if (!((ch >= L'0' && ch <= L'9') || (ch >= L'a' && ch <= L'f') || (ch >= L'A' && ch <= L'F')))
            return false;
    }
    return true;
}

Result RenameFolder(const wchar_t* pszFrom, const wchar_t* pszTo)
{
    // Opened on the entry itself and renamed through that handle: where the
    // system opens a link as itself (Windows), the link is renamed; where an
    // open follows it (a Unix symlink under Wine), renaming the handle would
    // move what the link leads to, so that is refused.
    ScopedFile entry(::CreateFileW(pszFrom, DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!entry)
        return Result::LastError(L"CreateFile");
    FILE_ATTRIBUTE_TAG_INFO tag = {};
    const bool bLink = ::GetFileInformationByHandleEx(entry.Get(), FileAttributeTagInfo, &tag, sizeof(tag)) &&
                       (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
    if (!bLink && !IsPlainEntryAt(entry.Get(), pszFrom))
        return Result::Failed(L"is a link", ERROR_REPARSE_ATTRIBUTE_CONFLICT);
    const size_t cbName = std::wcslen(pszTo) * sizeof(wchar_t);
    std::vector<BYTE> buffer(sizeof(FILE_RENAME_INFO) + cbName);
    auto* pInfo = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    pInfo->ReplaceIfExists = FALSE;
    pInfo->RootDirectory = nullptr;
    pInfo->FileNameLength = static_cast<DWORD>(cbName);
    std::memcpy(pInfo->FileName, pszTo, cbName);
    if (!::SetFileInformationByHandle(entry.Get(), FileRenameInfo, pInfo, static_cast<DWORD>(buffer.size())))
        return Result::LastError(L"SetFileInformationByHandle");
    return Result();
}

size_t RemoveFolderNowOrLater(const wchar_t* pszFolder)
{
    if (DeleteFolder(pszFolder) || ::GetFileAttributesW(pszFolder) == INVALID_FILE_ATTRIBUTES)
        return 0;
    std::vector<std::wstring> left;
    CollectLeft(pszFolder, &left);
    for (const std::wstring& strPath : left)
        ::MoveFileExW(strPath.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    return left.size();
}

void RemoveLeftoverSiblings(const wchar_t* pszFolder,
                            const std::function<void(const std::wstring& strPath, size_t nLeft)>& report)
{
    const std::wstring strFolder = pszFolder;
    const size_t nSlash = strFolder.find_last_of(L'\\');
    if (nSlash == std::wstring::npos)
        return;
    const std::wstring strParent = strFolder.substr(0, nSlash + 1);
    const std::wstring strName = strFolder.substr(nSlash + 1);
    std::vector<std::wstring> siblings;
    WIN32_FIND_DATAW fd;
    ScopedFind find(::FindFirstFileW((strFolder + L".*").c_str(), &fd));
    if (find) {
        do {
            if ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && IsSiblingName(fd.cFileName, strName.c_str()))
                siblings.push_back(strParent + fd.cFileName);
        } while (::FindNextFileW(find.Get(), &fd));
    }
    for (const std::wstring& strSibling : siblings) {
        if (!IsMadeByAnAdministrator(strSibling))
            continue;
        const size_t nLeft = RemoveFolderNowOrLater(strSibling.c_str());
        if (report)
            report(strSibling, nLeft);
    }
}
