#pragma once

#include "zip/Zip.h"
#include "zip/ZipFolder.h"
#include "zip/ZipHandleIo.h"

#include <unzip.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Each block is one write; most files of a client take one or two.
constexpr unsigned kZipTransferBufferSize = 65536;

// The state behind a ZipHandle: the open archive, positioned on one entry
// at a time, a one-record cache of the last query, and the target folder.
class CZipReader {
public:
    CZipReader() = default;
    ~CZipReader();
    CZipReader(const CZipReader&) = delete;
    CZipReader& operator=(const CZipReader&) = delete;

    // Opens the archive by name, or through hArchive when that is not
    // INVALID_HANDLE_VALUE (the name is then only a label).
    bool Open(const wchar_t* pszArchive, const char* pszPassword, HANDLE hArchive = INVALID_HANDLE_VALUE);
    int SetTargetFolder(const wchar_t* pszFolder);
    int Query(int nIndex, ZipItemInfo* pInfo);
    int Unzip(int nIndex, const wchar_t* pszTarget);
    void KeepFiles(IWrittenFiles* pKept) { m_pKept = pKept; }

private:
    // Closes the entry being read; UNZ_CRCERROR when it was read to its end
    // and its bytes do not match its recorded CRC.
    int CloseOpenItem();
    bool GoTo(int nIndex);
    // Positions on the entry and gives its record, from the cache when it
    // holds this index, else read from the archive and cached.
    int FetchRecord(int nIndex, ZipItemInfo* pInfo);
    // What the layer needs of an entry beside its ZipItemInfo.
    struct ItemFacts {
        bool bEncrypted = false;
        uint64_t cbUncompressed = 0;
    };
    int ReadRecord(int nIndex, ZipItemInfo* pInfo, ItemFacts* pFacts);
    // Writes the open entry to the file; ZIPERR_CORRUPT when its data end
    // before the size its central header gives.
    int WriteItem(HANDLE hFile, int nMethod, uint64_t cbUncompressed);
    // Makes the entry's folders and creates its file, replacing one that is
    // there; INVALID_HANDLE_VALUE when it cannot be created.
    HANDLE CreateItemFile(const std::wstring& strFull, const wchar_t* pszRoot, const std::wstring& strFolder,
                          DWORD dwAttributes);

    // The archive when it was opened by name; closed after m_archive.
    ScopedFile m_ownArchive;
    ArchiveView m_view;
    unzFile m_archive = nullptr;
    int32_t m_nEntryCount = 0;
    // Entry minizip is positioned on; -1 after a failed step.
    int32_t m_nCurrentEntry = -1;
    int32_t m_nOpenItem = -1;
    ZipItemInfo m_cachedInfo = {};
    ItemFacts m_cachedFacts;
    int32_t m_nCachedIndex = -1;
    std::unique_ptr<char[]> m_pszPassword;
    std::unique_ptr<uint8_t[]> m_pTransferBuffer;
    wchar_t m_szTargetFolder[MAX_PATH] = {};
    std::vector<uint8_t> m_localExtraField;
    // Folders made or found for this archive, each asked for once.
    FolderSet m_madeFolders;
    IWrittenFiles* m_pKept = nullptr;
};
