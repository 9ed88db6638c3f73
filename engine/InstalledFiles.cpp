#include "engine/InstalledFiles.h"

#include "engine/FileVerify.h"
#include "engine/PackageList.h"
#include "framework/ScopedHandle.h"
#include "log/Log.h"

#include <zlib.h>

#include <memory>
#include <new>

namespace {

constexpr int32_t kCrcPieceBytes = 256 * 1024;

}  // namespace

int VerifyInstalledFiles(const wchar_t* pszFolder, const std::wstring& strText, HANDLE hStop)
{
    LogNormal(L"[CAutoSetupDlg::CheckFileCRC] filecrc content %ls", strText.c_str());
    if (strText.empty()) {
        LogError(L"[CAutoSetupDlg::CheckFileCRC]filecrc.txt no content");
        return 0;
    }

    for (const CrcListEntry& entry : ParseCrcList(strText)) {
        if (hStop && ::WaitForSingleObject(hStop, 0) == WAIT_OBJECT_0)
            return 0;
        const uint32_t nLocal = GetFileCRC(pszFolder, entry.strName.c_str());
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

uint32_t GetFileCRC(const wchar_t* pszFolder, const wchar_t* pszRelativeName)
{
    if (!pszRelativeName || pszRelativeName[0] == L'\0')
        return 0;
    const std::wstring strPath = std::wstring(pszFolder) + L"\\" + pszRelativeName;
    // A path that does not fit MAX_PATH cannot be opened as the list names
    // it; a name that leaves the install folder is not opened at all.
    ScopedFile file(strPath.size() < MAX_PATH && IsNameInsideFolder(pszRelativeName)
                        ? ::CreateFileW(strPath.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
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

    // Read in pieces of a buffer of its own: a file costs no more memory
    // than the piece, whatever its size. Exactly the file's bytes are
    // hashed: a short read fails the file.
    std::unique_ptr<uint8_t[]> piece(new (std::nothrow) uint8_t[kCrcPieceBytes]);
    if (!piece) {
        LogError(L"[CAutoSetupDlg::GetFileCRC] new buffer failed");
        return 0;
    }
    uLong nCrc = crc32(0, nullptr, 0);
    for (int32_t nLeft = nLength; nLeft > 0;) {
        const DWORD cbAsk = static_cast<DWORD>(nLeft < kCrcPieceBytes ? nLeft : kCrcPieceBytes);
        DWORD cbRead = 0;
        if (!::ReadFile(file.Get(), piece.get(), cbAsk, &cbRead, nullptr) || cbRead != cbAsk) {
            LogError(L"[CAutoSetupDlg::GetFileCRC] read %ls failed", strPath.c_str());
            return 0;
        }
        nCrc = crc32(nCrc, piece.get(), static_cast<uInt>(cbRead));
        nLeft -= static_cast<int32_t>(cbRead);
    }
    return static_cast<uint32_t>(nCrc);
}
