#include "system/DeleteFolder.h"

#include "framework/ScopedHandle.h"
#include "system/PathFormat.h"

#include <cwchar>

namespace {

bool IsDotEntry(const wchar_t* pszName)
{
    return std::wcscmp(pszName, L".") == 0 || std::wcscmp(pszName, L"..") == 0;
}

// Deletes the link through a handle to the link itself. The handle must
// say it is a reparse point: where it does not (Wine shows a Unix symlink
// to a folder as a reparse point when listing but resolves it on open), a
// delete would reach the target, so the entry stays.
void RemoveLink(const wchar_t* pszPath)
{
    ScopedFile link(::CreateFileW(pszPath, DELETE | FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!link)
        return;
    FILE_ATTRIBUTE_TAG_INFO tag = {};
    if (!::GetFileInformationByHandleEx(link.Get(), FileAttributeTagInfo, &tag, sizeof(tag)) ||
        !(tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return;
    FILE_DISPOSITION_INFO disposition = {TRUE};
    ::SetFileInformationByHandle(link.Get(), FileDispositionInfo, &disposition, sizeof(disposition));
}

}  // namespace

bool IsLink(const wchar_t* pszPath)
{
    const DWORD dwAttributes = ::GetFileAttributesW(pszPath);
    return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

BOOL DeleteFolder(const wchar_t* pszFolder)
{
    wchar_t szPattern[MAX_PATH];
    if (!pszFolder || !*pszFolder || !FormatPath(szPattern, L"%ls//*.*", pszFolder))
        return FALSE;
    // A folder that is itself a link (planted where the folder should be)
    // is removed as a link; listing it would reach what it leads to.
    if (IsLink(pszFolder)) {
        RemoveLink(pszFolder);
        return ::GetFileAttributesW(pszFolder) == INVALID_FILE_ATTRIBUTES;
    }

    WIN32_FIND_DATAW fd;
    ScopedFind find(::FindFirstFileW(szPattern, &fd));
    if (find) {
        do {
            wchar_t szPath[MAX_PATH];
            // An entry whose path does not fit cannot be removed; the folder
            // then stays.
            if (IsDotEntry(fd.cFileName) || !FormatPath(szPath, L"%ls//%ls", pszFolder, fd.cFileName))
                continue;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
                RemoveLink(szPath);
            else if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                DeleteFolder(szPath);
            else
                ::DeleteFileW(szPath);
        } while (::FindNextFileW(find.Get(), &fd));
    }
    find.Reset();
    return ::RemoveDirectoryW(pszFolder);
}
