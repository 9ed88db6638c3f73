#include "zip/ZipReader.h"

#include "framework/SafeFile.h"
#include "zip/ZipEndRecords.h"
#include "zip/ZipFolder.h"
#include "zip/ZipHandleIo.h"
#include "zip/ZipItemName.h"
#include "zip/ZipItemRecord.h"

#include <climits>
#include <cstring>
#include <cwchar>
#include <new>
#include <string>
#include <utility>

namespace {

constexpr unsigned long kZipFlagEncrypted = 0x0001;
constexpr unsigned long kZipFlagUtf8 = 0x0800;

// Zero means "not known": SetFileTime then leaves that time alone.
const FILETIME* KnownTime(const FILETIME& ft)
{
    return (ft.dwLowDateTime || ft.dwHighDateTime) ? &ft : nullptr;
}

}  // namespace

CZipReader::~CZipReader()
{
    CloseOpenItem();
    if (m_archive)
        unzClose(m_archive);
}

bool CZipReader::Open(const wchar_t* pszArchive, const char* pszPassword, HANDLE hArchive)
{
    if (pszPassword) {
        size_t cb = std::strlen(pszPassword) + 1;
        m_pszPassword.reset(new (std::nothrow) char[cb]);
        if (!m_pszPassword)
            return false;
        std::memcpy(m_pszPassword.get(), pszPassword, cb);
    }

    wchar_t szCurrent[MAX_PATH] = {};
    DWORD cch = ::GetCurrentDirectoryW(MAX_PATH, szCurrent);
    // Left empty when it does not fit: relative names then still resolve
    // against the current directory.
    if (cch > 0 && cch < MAX_PATH)
        SetTargetFolder(szCurrent);

    // By name, the archive is opened as minizip's own functions would, and
    // read through the same windows as a caller's handle.
    if (hArchive == INVALID_HANDLE_VALUE) {
        m_ownArchive = ScopedFile(::CreateFileW(pszArchive, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!m_ownArchive)
            return false;
        hArchive = m_ownArchive.Get();
    }
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(hArchive, &size))
        return false;
    const auto read = [hArchive](uint64_t nPos, uint8_t* pBuffer, size_t cb) {
        DWORD cbRead = 0;
        return cb <= MAXDWORD && ReadFileAt(hArchive, nPos, pBuffer, static_cast<DWORD>(cb), &cbRead) && cbRead == cb;
    };
    ZipEndRecords records;
    if (!ReadEndRecords(read, static_cast<uint64_t>(size.QuadPart), &records))
        return false;
    // minizip takes the last zip64 locator it meets scanning back from the
    // end, in the comment too. It reads the archive, shown a few bytes on,
    // up to its end record, followed by the locator that leads to the zip64
    // end record checked here, or by one it refuses when there is none.
    m_view.hArchive = hArchive;
    m_view.nShift = MakeZip64Locator(records, m_view.tail);
    m_view.nEnd = records.nEndRecord + kZipEndRecordSize;
    zlib_filefunc64_def fileFuncs;
    FillHandleFileFuncs(&m_view, &fileFuncs);
    m_archive = unzOpen2_64(pszArchive, &fileFuncs);
    if (!m_archive)
        return false;
    unz_global_info64 globalInfo;
    if (unzGetGlobalInfo64(m_archive, &globalInfo) != UNZ_OK || globalInfo.number_entry != records.nEntries ||
        globalInfo.number_entry > INT32_MAX)
        return false;
    m_nEntryCount = static_cast<int32_t>(globalInfo.number_entry);
    // A first central record minizip cannot read fails the open, not the
    // first query.
    if (m_nEntryCount > 0 && !GoTo(0))
        return false;
    return true;
}

int CZipReader::SetTargetFolder(const wchar_t* pszFolder)
{
    if (!pszFolder || pszFolder[0] == L'\0')
        return ZIPERR_ARGS;
    size_t cch = std::wcslen(pszFolder);
    const bool bSeparator = IsPathSeparator(pszFolder[cch - 1]);
    if (cch + (bSeparator ? 0 : 1) >= MAX_PATH)
        return ZIPERR_ARGS;
    std::wmemcpy(m_szTargetFolder, pszFolder, cch);
    if (!bSeparator)
        m_szTargetFolder[cch++] = L'/';
    m_szTargetFolder[cch] = L'\0';
    return ZIPERR_NONE;
}

int CZipReader::CloseOpenItem()
{
    if (m_nOpenItem == -1)
        return UNZ_OK;
    m_nOpenItem = -1;
    return unzCloseCurrentFile(m_archive);
}

bool CZipReader::GoTo(int nIndex)
{
    if (m_nCurrentEntry < 0 || nIndex < m_nCurrentEntry) {
        m_nCurrentEntry = -1;
        if (unzGoToFirstFile(m_archive) != UNZ_OK)
            return false;
        m_nCurrentEntry = 0;
    }
    while (m_nCurrentEntry < nIndex) {
        if (unzGoToNextFile(m_archive) != UNZ_OK) {
            m_nCurrentEntry = -1;
            return false;
        }
        ++m_nCurrentEntry;
    }
    return true;
}

int CZipReader::Query(int nIndex, ZipItemInfo* pInfo)
{
    pInfo->nIndex = 0;
    pInfo->szName[0] = L'\0';
    pInfo->nUncompressedSize = 0;
    if (nIndex < -1 || nIndex >= m_nEntryCount)
        return ZIPERR_ARGS;
    CloseOpenItem();

    if (nIndex == -1) {
        std::memset(pInfo, 0, sizeof(*pInfo));
        pInfo->nIndex = m_nEntryCount;
        return ZIPERR_NONE;
    }
    if (nIndex == m_nCachedIndex) {
        *pInfo = m_cachedInfo;
        return ZIPERR_NONE;
    }
    return FetchRecord(nIndex, pInfo);
}

int CZipReader::FetchRecord(int nIndex, ZipItemInfo* pInfo)
{
    if (!GoTo(nIndex))
        return ZIPERR_CORRUPT;
    if (nIndex != m_nCachedIndex) {
        ZipItemInfo record;
        ItemFacts facts;
        int nResult = ReadRecord(nIndex, &record, &facts);
        if (nResult != ZIPERR_NONE)
            return nResult;
        m_cachedInfo = record;
        m_cachedFacts = facts;
        m_nCachedIndex = nIndex;
    }
    *pInfo = m_cachedInfo;
    return ZIPERR_NONE;
}

int CZipReader::ReadRecord(int nIndex, ZipItemInfo* pInfo, ItemFacts* pFacts)
{
    unz_file_info64 fileInfo;
    char szStored[kMaxStoredNameBytes + 1];
    if (unzGetCurrentFileInfo64(m_archive, &fileInfo, szStored, sizeof(szStored), nullptr, 0, nullptr, 0) != UNZ_OK)
        return ZIPERR_CORRUPT;
    if (fileInfo.size_filename > kMaxStoredNameBytes)
        return ZIPERR_ARGS;

    // A raw open checks the local header against the central record and
    // locates the local extra field without starting the inflater.
    int nMethod = -1;
    if (unzOpenCurrentFile3(m_archive, &nMethod, nullptr, 1, nullptr) != UNZ_OK)
        return ZIPERR_CORRUPT;
    m_nOpenItem = nIndex;
    if (nMethod != 0 && nMethod != Z_DEFLATED) {
        CloseOpenItem();
        return ZIPERR_CORRUPT;
    }
    // minizip would read the local extra field without the bytes before
    // the archive (a prefix, and the view's shift): it ends where the data
    // start, in the part of the file the view shows.
    const int cbExtra = unzGetLocalExtrafield(m_archive, nullptr, 0);
    const uint64_t nData = unzGetCurrentFileZStreamPos64(m_archive);
    CloseOpenItem();
    if (cbExtra < 0 || nData < m_view.nShift + static_cast<uint64_t>(cbExtra) || nData - m_view.nShift > m_view.nEnd)
        return ZIPERR_READ;
    m_localExtraField.resize(static_cast<size_t>(cbExtra));
    DWORD cbRead = 0;
    if (cbExtra > 0 && (!ReadFileAt(m_view.hArchive, nData - m_view.nShift - static_cast<uint64_t>(cbExtra),
                                    m_localExtraField.data(), static_cast<DWORD>(cbExtra), &cbRead) ||
                        cbRead != static_cast<DWORD>(cbExtra)))
        return ZIPERR_READ;

    std::memset(pInfo, 0, sizeof(*pInfo));
    pInfo->nIndex = nIndex;
    if (!ConvertItemName(szStored, fileInfo.size_filename, (fileInfo.flag & kZipFlagUtf8) != 0, CP_ACP, pInfo->szName))
        return ZIPERR_ARGS;
    CleanItemName(pInfo->szName);
    if (IsNamelessData(pInfo->szName, fileInfo.uncompressed_size))
        return ZIPERR_ARGS;

    pInfo->dwAttributes = MapZipAttributes(fileInfo.version, fileInfo.external_fa);
    // Some tools store folders without the folder bit, by name only.
    size_t cchName = std::wcslen(pInfo->szName);
    if (cchName > 0 && IsPathSeparator(pInfo->szName[cchName - 1]))
        pInfo->dwAttributes |= kZipAttrFolder;

    pInfo->nCompressedSize = static_cast<uint32_t>(fileInfo.compressed_size);
    pInfo->nUncompressedSize = static_cast<uint32_t>(fileInfo.uncompressed_size);

    FILETIME ft = DosStampToFileTime(fileInfo.dosDate);
    pInfo->ftLastAccess = ft;
    pInfo->ftCreation = ft;
    pInfo->ftLastWrite = ft;
    ApplyExtendedTimestamps(m_localExtraField.data(), m_localExtraField.size(), pInfo);

    pFacts->bEncrypted = (fileInfo.flag & kZipFlagEncrypted) != 0;
    pFacts->cbUncompressed = fileInfo.uncompressed_size;
    return ZIPERR_NONE;
}

int CZipReader::Unzip(int nIndex, const wchar_t* pszTarget)
{
    CloseOpenItem();
    if (nIndex < 0 || nIndex >= m_nEntryCount || !pszTarget)
        return ZIPERR_ARGS;

    ZipItemInfo info;
    int nResult = FetchRecord(nIndex, &info);
    if (nResult != ZIPERR_NONE)
        return nResult;

    ItemPathKind kind = ClassifyItemPath(pszTarget);
    if (kind == ItemPathKind::Refused)
        return ZIPERR_ARGS;
    const wchar_t* pszRoot = kind == ItemPathKind::Absolute ? L"" : m_szTargetFolder;

    if (info.dwAttributes & kZipAttrFolder) {
        EnsureFolderPath(pszRoot, pszTarget, &m_madeFolders);
        return ZIPERR_NONE;
    }

    const wchar_t* pszFile = pszTarget;
    for (const wchar_t* p = pszTarget; *p; ++p)
        if (IsPathSeparator(*p))
            pszFile = p + 1;
    std::wstring strFull = std::wstring(pszRoot) + pszTarget;
    if (strFull.size() >= MAX_PATH)
        return ZIPERR_OPEN;
    ScopedFile file(CreateItemFile(strFull, pszRoot, std::wstring(pszTarget, pszFile), info.dwAttributes));
    if (!file)
        return ZIPERR_OPEN;
    // The reader has no decryption, so any password is refused.
    if (m_cachedFacts.bEncrypted)
        return ZIPERR_PASSWORD;

    int nMethod = -1;
    if (unzOpenCurrentFile3(m_archive, &nMethod, nullptr, 0, nullptr) == UNZ_OK)
        m_nOpenItem = nIndex;
    if (!m_pTransferBuffer)
        m_pTransferBuffer.reset(new (std::nothrow) uint8_t[kZipTransferBufferSize]);
    nResult = (m_nOpenItem == nIndex && m_pTransferBuffer)
                  ? WriteItem(file.Get(), nMethod, m_cachedFacts.cbUncompressed)
                  : ZIPERR_INFLATE;
    // minizip compares the CRC-32 of the bytes it handed out, all of them
    // written, with the entry's once it has handed out the whole size.
    if (CloseOpenItem() == UNZ_CRCERROR && nResult == ZIPERR_NONE)
        nResult = ZIPERR_CORRUPT;
    // Bytes that do not match the entry's own CRC and size are not the file
    // it holds, whatever the server's CRC list says about it.
    if (nResult == ZIPERR_CORRUPT) {
        file.Reset();
        ::DeleteFileW(strFull.c_str());
        return nResult;
    }

    if (nResult == ZIPERR_NONE) {
        ::SetFileTime(file.Get(), KnownTime(info.ftCreation), KnownTime(info.ftLastAccess),
                      KnownTime(info.ftLastWrite));
        if (m_pKept)
            m_pKept->Keep(strFull, std::move(file));
    }
    return nResult;
}

HANDLE CZipReader::CreateItemFile(const std::wstring& strFull, const wchar_t* pszRoot, const std::wstring& strFolder,
                                  DWORD dwAttributes)
{
    EnsureFolderPath(pszRoot, strFolder.c_str(), &m_madeFolders);
    // Nearly every name is new: one create, where a delete that finds
    // nothing and a create each cost a search of the folder under Wine. A
    // name that is taken is replaced, never written through: it may be a
    // link. A kept file is read back through its handle.
    const DWORD dwAccess = m_pKept ? GENERIC_READ | GENERIC_WRITE : GENERIC_WRITE;
    HANDLE h = ::CreateFileW(strFull.c_str(), dwAccess, 0, nullptr, CREATE_NEW, dwAttributes, nullptr);
    // Kept files use up the descriptors Wine's server may have; another
    // thread may have let them go already.
    if (h == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_TOO_MANY_OPEN_FILES && m_pKept) {
        m_pKept->GiveUp();
        h = ::CreateFileW(strFull.c_str(), dwAccess, 0, nullptr, CREATE_NEW, dwAttributes, nullptr);
    }
    if (h != INVALID_HANDLE_VALUE)
        return h;
    if (::GetLastError() == ERROR_PATH_NOT_FOUND) {
        // A folder made for an earlier entry is gone.
        m_madeFolders.clear();
        EnsureFolderPath(pszRoot, strFolder.c_str(), &m_madeFolders);
    }
    // A file of an earlier entry or package under the same name.
    if (m_pKept)
        m_pKept->LetGo(strFull);
    HANDLE hFresh = CreateFreshFile(strFull.c_str(), dwAccess | FILE_WRITE_ATTRIBUTES, 0);
    if (hFresh != INVALID_HANDLE_VALUE && dwAttributes != FILE_ATTRIBUTE_NORMAL) {
        FILE_BASIC_INFO basic = {};
        basic.FileAttributes = dwAttributes;
        ::SetFileInformationByHandle(hFresh, FileBasicInfo, &basic, sizeof(basic));
    }
    return hFresh;
}

int CZipReader::WriteItem(HANDLE hFile, int nMethod, uint64_t cbUncompressed)
{
    uint64_t cbTotal = 0;
    for (;;) {
        int cbRead = unzReadCurrentFile(m_archive, m_pTransferBuffer.get(), kZipTransferBufferSize);
        if (cbRead < 0)
            return ZIPERR_INFLATE;
        if (cbRead == 0) {
            // Stored data that stop short of their size cannot be read on; a
            // deflate stream that ends early is no file of that size.
            if (!unzeof(m_archive) && nMethod != Z_DEFLATED)
                return ZIPERR_INFLATE;
            return cbTotal == cbUncompressed ? ZIPERR_NONE : ZIPERR_CORRUPT;
        }
        cbTotal += static_cast<uint64_t>(cbRead);
        DWORD cbWritten = 0;
        if (!::WriteFile(hFile, m_pTransferBuffer.get(), static_cast<DWORD>(cbRead), &cbWritten, nullptr) ||
            cbWritten != static_cast<DWORD>(cbRead))
            return ZIPERR_WRITE;
    }
}

ZipHandle OpenZip(const wchar_t* pszArchive, const char* pszPassword)
{
    return OpenZipFromHandle(INVALID_HANDLE_VALUE, pszArchive, pszPassword);
}

ZipHandle OpenZipFromHandle(HANDLE hArchive, const wchar_t* pszArchive, const char* pszPassword)
{
    if (!pszArchive)
        return nullptr;
    std::unique_ptr<CZipReader> pReader(new (std::nothrow) CZipReader);
    if (!pReader || !pReader->Open(pszArchive, pszPassword, hArchive))
        return nullptr;
    ZipHandle hZip = new (std::nothrow) ZipHandleRecord{kZipHandleArchive, pReader.get()};
    if (hZip)
        pReader.release();
    return hZip;
}

namespace {

CZipReader* ReaderOf(ZipHandle hZip)
{
    return (hZip && hZip->nKind == kZipHandleArchive) ? hZip->pReader : nullptr;
}

}  // namespace

int SetZipTargetFolder(ZipHandle hZip, const wchar_t* pszFolder)
{
    CZipReader* pReader = ReaderOf(hZip);
    return pReader ? pReader->SetTargetFolder(pszFolder) : ZIPERR_ARGS;
}

int QueryZipItem(ZipHandle hZip, int nIndex, ZipItemInfo* pInfo)
{
    if (!pInfo)
        return ZIPERR_ARGS;
    CZipReader* pReader = ReaderOf(hZip);
    if (!pReader) {
        pInfo->nIndex = 0;
        pInfo->szName[0] = L'\0';
        pInfo->nUncompressedSize = 0;
        return ZIPERR_ARGS;
    }
    return pReader->Query(nIndex, pInfo);
}

int UnzipItem(ZipHandle hZip, int nIndex, const wchar_t* pszTarget)
{
    CZipReader* pReader = ReaderOf(hZip);
    return pReader ? pReader->Unzip(nIndex, pszTarget) : ZIPERR_ARGS;
}

int KeepZipItemFiles(ZipHandle hZip, IWrittenFiles* pFiles)
{
    CZipReader* pReader = ReaderOf(hZip);
    if (!pReader)
        return ZIPERR_ARGS;
    pReader->KeepFiles(pFiles);
    return ZIPERR_NONE;
}

int ReleaseZip(ZipHandle hZip)
{
    CZipReader* pReader = ReaderOf(hZip);
    if (!pReader)
        return ZIPERR_ARGS;
    delete pReader;
    delete hZip;
    return ZIPERR_NONE;
}
