#include "engine/FileVerify.h"

#include "engine/SetupEngine.h"
#include "framework/ScopedHandle.h"
#include "log/Log.h"

#include <zlib.h>

#include <new>

int CSetupEngine::CheckFileCRC()
{
    const std::wstring strUrl = m_strBaseUrl + L"filecrc.txt";
    LogNormal(L"[CSetupDlg::Execute] filecrc.txt-url = %ls", strUrl.c_str());
    if (!FetchIntoBuffer(strUrl.c_str()) || m_nDownloadSize < 3) {
        LogError(L"[CAutoSetupDlg::CheckFileCRC] download filecrc.txt failed");
        return 0;
    }

    // Copied out first: GetFileCRC reads every file into the same buffer.
    const std::wstring strText = ServerListText(m_pDownloadBuffer, m_nDownloadSize);
    LogNormal(L"[CAutoSetupDlg::CheckFileCRC] filecrc content %ls", strText.c_str());
    if (strText.empty()) {
        LogError(L"[CAutoSetupDlg::CheckFileCRC]filecrc.txt no content");
        return 0;
    }

    for (const CrcListEntry& entry : ParseCrcList(strText)) {
        const uint32_t nLocal = GetFileCRC(entry.strName.c_str());
        LogNormal(L"[CAutoSetupDlg::CheckFileCRC] %ls loacalCRC=%lu, netCRC=%lu", entry.strName.c_str(),
                  static_cast<unsigned long>(nLocal), static_cast<unsigned long>(entry.nCrc));
        if (nLocal == 0) {
            LogError(L"[CAutoSetupDlg::CheckFileCRC] %ls GetCRC error", entry.strName.c_str());
            return 0;
        }
        if (nLocal != entry.nCrc) {
            LogError(L"[CAutoSetupDlg::CheckFileCRC] %ls CRC is not equal", entry.strName.c_str());
            return 0;
        }
    }
    return 1;
}

uint32_t CSetupEngine::GetFileCRC(const wchar_t* pszRelativeName)
{
    if (!pszRelativeName || pszRelativeName[0] == L'\0')
        return 0;
    const std::wstring strPath = std::wstring(m_szSetupPath) + L"\\" + pszRelativeName;
    // A path that does not fit MAX_PATH cannot be opened as the list names
    // it; a name that leaves the install folder is not opened at all.
    ScopedFile file(strPath.size() < MAX_PATH && IsNameInsideFolder(pszRelativeName) ? ::CreateFileW(strPath.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                                              FILE_ATTRIBUTE_NORMAL, nullptr)
                                              : INVALID_HANDLE_VALUE);
    if (!file) {
        LogError(L"[CAutoSetupDlg::GetFileCRC] open %ls failed", strPath.c_str());
        return 0;
    }

    // Sizes beyond the signed 32-bit range count as not positive, also those
    // that would wrap to a small positive number.
    LARGE_INTEGER size = {};
    int32_t nLength = -1;
    if (::GetFileSizeEx(file.Get(), &size) && size.QuadPart <= INT32_MAX)
        nLength = static_cast<int32_t>(size.QuadPart);
    if (nLength <= 0) {
        LogError(L"[CAutoSetupDlg::GetFileCRC] %ls size=%d", strPath.c_str(), nLength);
        return 0;
    }

    // The buffer grows to the largest file and never shrinks.
    if (nLength > m_nDownloadCapacity) {
        uint8_t* pBigger = nLength <= INT32_MAX - kFileBufferSlack
                               ? new (std::nothrow) uint8_t[static_cast<size_t>(nLength) + kFileBufferSlack]
                               : nullptr;
        if (!pBigger) {
            LogError(L"[CAutoSetupDlg::GetFileCRC] new buffer failed");
            return 0;
        }
        delete[] m_pDownloadBuffer;
        m_pDownloadBuffer = pBigger;
        m_nDownloadCapacity = nLength + kFileBufferSlack;
    }

    // Only the file's bytes are written, not the whole capacity: a short
    // read fails the file rather than hashing what it left behind.
    DWORD cbRead = 0;
    if (!::ReadFile(file.Get(), m_pDownloadBuffer, static_cast<DWORD>(nLength), &cbRead, nullptr) ||
        cbRead != static_cast<DWORD>(nLength)) {
        LogError(L"[CAutoSetupDlg::GetFileCRC] read %ls failed", strPath.c_str());
        return 0;
    }
    ZeroAfterData(nLength, kFileBufferSlack);
    return static_cast<uint32_t>(crc32(0, m_pDownloadBuffer, static_cast<uInt>(nLength)));
}
