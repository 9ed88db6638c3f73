#pragma once

#include "framework/ScopedHandle.h"

#include <windows.h>

#include <cstdint>
#include <string>

// Result codes of the zip layer; 0 is success.
constexpr int ZIPERR_NONE = 0;
constexpr int ZIPERR_OPEN = 0x200;
constexpr int ZIPERR_WRITE = 0x400;
constexpr int ZIPERR_CORRUPT = 0x700;
constexpr int ZIPERR_READ = 0x800;
constexpr int ZIPERR_PASSWORD = 0x1000;
constexpr int ZIPERR_ARGS = 0x10000;
constexpr int ZIPERR_INFLATE = 0x5000000;

constexpr DWORD kZipAttrReadOnly = 0x01;
constexpr DWORD kZipAttrHidden = 0x02;
constexpr DWORD kZipAttrSystem = 0x04;
constexpr DWORD kZipAttrFolder = 0x10;
constexpr DWORD kZipAttrArchive = 0x20;

// One entry of an archive. For index -1, nIndex holds the entry count.
struct ZipItemInfo {
    int32_t nIndex;
    wchar_t szName[MAX_PATH];
    DWORD dwAttributes;
    FILETIME ftLastAccess;
    FILETIME ftCreation;
    FILETIME ftLastWrite;
    uint32_t nCompressedSize;
    uint32_t nUncompressedSize;
};

class CZipReader;

constexpr uint32_t kZipHandleArchive = 1;

struct ZipHandleRecord {
    uint32_t nKind;
    CZipReader* pReader;
};
using ZipHandle = ZipHandleRecord*;

// Opens an archive for reading; null on any failure. The password is kept
// with the handle; entries that need it are refused (no decryption here).
ZipHandle OpenZip(const wchar_t* pszArchive, const char* pszPassword);
// The same through an open handle with read access, which the caller keeps
// open until the handle is released; pszArchive only names it.
ZipHandle OpenZipFromHandle(HANDLE hArchive, const wchar_t* pszArchive, const char* pszPassword);
// Folder under which relative item names are written. A folder that does
// not fit 259 units with its trailing separator is refused (ZIPERR_ARGS).
int SetZipTargetFolder(ZipHandle hZip, const wchar_t* pszFolder);
// Describes entry nIndex, or with -1 gives the entry count in nIndex.
int QueryZipItem(ZipHandle hZip, int nIndex, ZipItemInfo* pInfo);
// Writes entry nIndex to pszTarget, relative to the target folder unless
// absolute. Names that could leave the folder, or that Windows reads as a
// drive, a stream or a device, are refused with ZIPERR_ARGS; a full path
// that does not fit MAX_PATH gives ZIPERR_OPEN.
int UnzipItem(ZipHandle hZip, int nIndex, const wchar_t* pszTarget);
int ReleaseZip(ZipHandle hZip);
// Where the files an archive writes go once written, instead of being
// closed. Called from every thread that unpacks through a handle given it.
class IWrittenFiles {
public:
    virtual ~IWrittenFiles() = default;
    // Takes the file just written at the path, open for reading and
    // writing and sharing nothing.
    virtual void Keep(const std::wstring& strPath, ScopedFile file) = 0;
    // Before the path is written again: closes the file kept for it, if any.
    virtual void LetGo(const std::wstring& strPath) = 0;
    // The system has no handle left to give: closes every kept file and
    // keeps no more.
    virtual void GiveUp() = 0;
};
// From now on each file written goes to pFiles, which must outlive the
// handle. Null: each file is closed once written.
int KeepZipItemFiles(ZipHandle hZip, IWrittenFiles* pFiles);

struct ZipHandleTraits {
    using Handle = ZipHandle;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { ReleaseZip(h); }
};
using ScopedZip = CScopedHandle<ZipHandleTraits>;
