#include "system/DeleteFolder.h"

#include "framework/OpenRelative.h"
#include "framework/SafeFile.h"
#include "framework/ScopedHandle.h"

#include <winternl.h>

#include <cwchar>
#include <string>
#include <vector>

namespace {

// Folders are walked by handle: each entry is opened relative to the
// handle of the folder that was checked, so a folder swapped for a link
// after the check is never listed or emptied.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Not shared for delete: nobody renames or replaces the folder meanwhile.
constexpr DWORD kShareFolder = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr DWORD kEntryAccess = DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE;
constexpr size_t kListingBytes = 64 * 1024;

// Tried in turn: another program that holds an entry open without sharing
// delete (or reading) still lets the rest go.
struct OpenMode {
    ACCESS_MASK access;
    ULONG nShare;
};
constexpr OpenMode kOpenModes[] = {
    {kEntryAccess | FILE_LIST_DIRECTORY, kShareFolder},
    {kEntryAccess, kShareAll},
    {FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE, kShareAll},
};

struct Entry {
    std::wstring strName;
    DWORD dwAttributes;
};

bool IsDotEntry(const std::wstring& strName)
{
    return strName == L"." || strName == L"..";
}

// Opens the entry itself, never what a link in its place leads to.
HANDLE OpenEntry(HANDLE hFolder, const std::wstring& strName, ACCESS_MASK access, ULONG nShare)
{
    return OpenRelative(hFolder, strName, access, nShare, FILE_OPEN,
                        FILE_OPEN_REPARSE_POINT | FILE_OPEN_FOR_BACKUP_INTENT);
}

bool ListFolder(HANDLE hFolder, std::vector<Entry>* pEntries)
{
    std::vector<BYTE> buffer(kListingBytes);
    FILE_INFO_BY_HANDLE_CLASS infoClass = FileIdBothDirectoryRestartInfo;
    while (::GetFileInformationByHandleEx(hFolder, infoClass, buffer.data(), static_cast<DWORD>(buffer.size()))) {
        infoClass = FileIdBothDirectoryInfo;
        for (size_t nAt = 0;;) {
            const auto* pInfo = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer.data() + nAt);
            Entry entry = {std::wstring(pInfo->FileName, pInfo->FileNameLength / sizeof(wchar_t)),
                           pInfo->FileAttributes};
            if (!IsDotEntry(entry.strName))
                pEntries->push_back(std::move(entry));
            if (pInfo->NextEntryOffset == 0)
                break;
            nAt += pInfo->NextEntryOffset;
        }
    }
    return ::GetLastError() == ERROR_NO_MORE_FILES;
}

bool IsReparsePoint(HANDLE h)
{
    FILE_ATTRIBUTE_TAG_INFO tag = {};
    return ::GetFileInformationByHandleEx(h, FileAttributeTagInfo, &tag, sizeof(tag)) &&
           (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// FileDispositionInfoEx and its flags, where Windows offers them (10, 1709
// and later); the headers of this build know only older systems.
constexpr FILE_INFO_BY_HANDLE_CLASS kFileDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
constexpr DWORD kDispositionDelete = 0x1;
constexpr DWORD kDispositionPosixSemantics = 0x2;
constexpr DWORD kDispositionIgnoreReadOnly = 0x10;

// Deleted at once where the system can: read-only or not, without changing
// the file, and the name goes even while another program holds the file
// open. Elsewhere a read-only entry is made writable first, so that it
// goes as well, but only one of a single name: the attribute belongs to
// the file, and a file with other names (a hard link to a file elsewhere)
// keeps it and stays.
bool DeleteOnHandle(HANDLE hFile)
{
    DWORD dwFlags = kDispositionDelete | kDispositionPosixSemantics | kDispositionIgnoreReadOnly;
    if (::SetFileInformationByHandle(hFile, kFileDispositionInfoEx, &dwFlags, sizeof(dwFlags)))
        return true;
    FILE_STANDARD_INFO standard = {};
    FILE_BASIC_INFO basic = {};
    if (::GetFileInformationByHandleEx(hFile, FileStandardInfo, &standard, sizeof(standard)) &&
        standard.NumberOfLinks == 1 && ::GetFileInformationByHandleEx(hFile, FileBasicInfo, &basic, sizeof(basic)) &&
        (basic.FileAttributes & FILE_ATTRIBUTE_READONLY)) {
        basic.FileAttributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
        if (basic.FileAttributes == 0)
            basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
        ::SetFileInformationByHandle(hFile, FileBasicInfo, &basic, sizeof(basic));
    }
    return DeleteOnClose(hFile);
}

void EmptyFolder(HANDLE hFolder, const std::wstring& strFinal);

// Removes one entry of a checked folder. A link goes as a link: where the
// system shows it as one, through a handle to the link itself; where an
// open resolves it elsewhere (a Unix symlink under Wine), a file link
// loses its name to a file of ours, and a folder link stays.
void RemoveEntry(HANDLE hFolder, const std::wstring& strFolderFinal, const Entry& entry)
{
    ScopedFile item;
    for (const OpenMode& mode : kOpenModes) {
        item.Reset(OpenEntry(hFolder, entry.strName, mode.access, mode.nShare));
        if (item)
            break;
    }
    if (!item)
        return;
    if (IsReparsePoint(item.Get())) {
        DeleteOnClose(item.Get());
        return;
    }
    if (!IsPlainEntry(item.Get(), strFolderFinal, entry.strName.c_str())) {
        item.Reset();
        if (!(entry.dwAttributes & FILE_ATTRIBUTE_DIRECTORY))
            RemoveFileName((strFolderFinal + L"\\" + entry.strName).c_str());
        return;
    }
    FILE_STANDARD_INFO standard = {};
    if (::GetFileInformationByHandleEx(item.Get(), FileStandardInfo, &standard, sizeof(standard)) &&
        standard.Directory) {
        EmptyFolder(item.Get(), FinalPathOf(item.Get()));
        DeleteOnHandle(item.Get());
        return;
    }
    DeleteOnHandle(item.Get());
}

void EmptyFolder(HANDLE hFolder, const std::wstring& strFinal)
{
    std::vector<Entry> entries;
    ListFolder(hFolder, &entries);
    for (const Entry& entry : entries)
        RemoveEntry(hFolder, strFinal, entry);
}

}  // namespace

bool IsLink(const wchar_t* pszPath)
{
    const DWORD dwAttributes = ::GetFileAttributesW(pszPath);
    return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

BOOL DeleteFolder(const wchar_t* pszFolder)
{
    if (!pszFolder || !*pszFolder)
        return FALSE;
    {
        ScopedFile folder;
        for (const OpenMode& mode : kOpenModes) {
            folder.Reset(::CreateFileW(pszFolder, mode.access, mode.nShare, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
            if (folder)
                break;
        }
        if (!folder)
            return FALSE;
        // A folder that is itself a link (planted where the folder should
        // be) is removed as a link; listing it would reach what it leads to.
        if (IsReparsePoint(folder.Get())) {
            DeleteOnClose(folder.Get());
        } else {
            if (!IsPlainEntryAt(folder.Get(), pszFolder))
                return FALSE;
            FILE_STANDARD_INFO standard = {};
            if (!::GetFileInformationByHandleEx(folder.Get(), FileStandardInfo, &standard, sizeof(standard)) ||
                !standard.Directory)
                return FALSE;
            EmptyFolder(folder.Get(), FinalPathOf(folder.Get()));
            DeleteOnHandle(folder.Get());
        }
    }
    return ::GetFileAttributesW(pszFolder) == INVALID_FILE_ATTRIBUTES;
}
