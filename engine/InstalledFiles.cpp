#include "engine/InstalledFiles.h"

#include "engine/FileVerify.h"
#include "engine/HeldFiles.h"
#include "engine/PackageList.h"
#include "engine/WorkerThread.h"
#include "framework/ScopedHandle.h"
#include "framework/StopToken.h"
#include "log/Log.h"

#include <zlib.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

namespace {

// Read per call: most installed files fit in one piece, and the piece of
// each thread stays resident.
constexpr int32_t kCrcPieceBytes = 64 * 1024;

// What reading one file gave: its CRC-32, or why there is none. The lines
// that say why are logged by the caller, in list order.
struct FileCrc {
    enum Failure { kNone, kOpen, kSize, kMemory, kRead } failure = kNone;
    uint32_t nCrc = 0;
    int32_t nLength = 0;
};

// The listed file, opened for reading and sharing nothing, or as the run
// holds it since it was written, read from its start.
ScopedFile OpenListedFile(const std::wstring& strPath, HeldFiles* pHeld)
{
    if (pHeld) {
        ScopedFile held = pHeld->Take(strPath);
        const LARGE_INTEGER start = {};
        if (held && ::SetFilePointerEx(held.Get(), start, nullptr, FILE_BEGIN))
            return held;
    }
    const auto open = [&] {
        return ScopedFile(
            ::CreateFileW(strPath.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    };
    ScopedFile file = open();
    // The list may spell a held file otherwise than its archive did.
    if (!file && ::GetLastError() == ERROR_SHARING_VIOLATION && pHeld && pHeld->ReleaseAll())
        file = open();
    return file;
}

FileCrc ReadFileCrc(const wchar_t* pszFolder, const wchar_t* pszRelativeName, uint8_t* pPiece, HeldFiles* pHeld)
{
    FileCrc result;
    const std::wstring strPath = std::wstring(pszFolder) + L"\\" + pszRelativeName;
    // A path that does not fit MAX_PATH cannot be opened as the list names
    // it; a name that leaves the install folder is not opened at all.
    ScopedFile file = strPath.size() < MAX_PATH && IsNameInsideFolder(pszRelativeName) ? OpenListedFile(strPath, pHeld)
                                                                                       : ScopedFile();
    if (!file) {
        result.failure = FileCrc::kOpen;
        return result;
    }

    // Sizes beyond the signed 32-bit range count as not positive, also those
    // that would wrap to a small positive number.
    LARGE_INTEGER size = {};
    result.nLength = -1;
    if (::GetFileSizeEx(file.Get(), &size) && size.QuadPart <= INT32_MAX)
        result.nLength = static_cast<int32_t>(size.QuadPart);
    if (result.nLength <= 0) {
        result.failure = FileCrc::kSize;
        return result;
    }
    if (!pPiece) {
        result.failure = FileCrc::kMemory;
        return result;
    }

    // Read in pieces: a file costs no more memory than the piece, whatever
    // its size. Exactly the file's bytes are summed: a short read fails it.
    uLong nCrc = crc32(0, nullptr, 0);
    for (int32_t nLeft = result.nLength; nLeft > 0;) {
        const DWORD cbAsk = static_cast<DWORD>(nLeft < kCrcPieceBytes ? nLeft : kCrcPieceBytes);
        DWORD cbRead = 0;
        if (!::ReadFile(file.Get(), pPiece, cbAsk, &cbRead, nullptr) || cbRead != cbAsk) {
            result.failure = FileCrc::kRead;
            return result;
        }
        nCrc = crc32(nCrc, pPiece, static_cast<uInt>(cbRead));
        nLeft -= static_cast<int32_t>(cbRead);
    }
    result.nCrc = static_cast<uint32_t>(nCrc);
    return result;
}

// The file's CRC-32, or 0 after logging why there is none.
uint32_t LoggedCrc(const wchar_t* pszFolder, const wchar_t* pszRelativeName, const FileCrc& result)
{
    const auto path = [&] { return std::wstring(pszFolder) + L"\\" + pszRelativeName; };
    switch (result.failure) {
    case FileCrc::kNone:
        return result.nCrc;
    case FileCrc::kOpen:
        LogError(L"[CAutoSetupDlg::GetFileCRC] open %ls failed", path().c_str());
        break;
    case FileCrc::kSize:
        LogError(L"[CAutoSetupDlg::GetFileCRC] %ls size=%d", path().c_str(), result.nLength);
        break;
    case FileCrc::kMemory:
        LogError(L"[CAutoSetupDlg::GetFileCRC] new buffer failed");
        break;
    case FileCrc::kRead:
        LogError(L"[CAutoSetupDlg::GetFileCRC] read %ls failed", path().c_str());
        break;
    }
    return 0;
}

// Logs the check of one listed file; whether it matched.
bool LogChecked(const wchar_t* pszFolder, const CrcListEntry& entry, const FileCrc& result)
{
    const uint32_t nLocal = LoggedCrc(pszFolder, entry.strName.c_str(), result);
    LogNormal(L"[CAutoSetupDlg::CheckFileCRC] %ls loacalCRC=%lu, netCRC=%lu", entry.strName.c_str(),
              static_cast<unsigned long>(nLocal), static_cast<unsigned long>(entry.nCrc));
    if (nLocal == 0) {
        LogError(L"[CAutoSetupDlg::CheckFileCRC] %ls GetCRC error", entry.strName.c_str());
        return false;
    }
    if (nLocal != entry.nCrc) {
        LogError(L"[CAutoSetupDlg::CheckFileCRC] %ls CRC is not equal", entry.strName.c_str());
        return false;
    }
    return true;
}

}  // namespace

int VerifyInstalledFiles(const wchar_t* pszFolder, const std::wstring& strText, const StopToken* pStop, int nHelpers,
                         HeldFiles* pHeld)
{
    LogNormal(L"[CAutoSetupDlg::CheckFileCRC] filecrc content %ls", strText.c_str());
    if (strText.empty()) {
        LogError(L"[CAutoSetupDlg::CheckFileCRC]filecrc.txt no content");
        return 0;
    }

    // The files are read by several threads, each taking the next file of
    // the list, up to the first that fails. The calling thread logs the
    // lines in list order, as if it had read every file: between its own
    // files, those read so far, and the rest at the end. Under Wine each
    // open waits on the server, and another thread reads, sums or logs
    // meanwhile.
    const std::vector<CrcListEntry> entries = ParseCrcList(strText);
    std::vector<FileCrc> results(entries.size());
    std::vector<std::atomic<bool>> read(entries.size());
    std::atomic<size_t> nNext{0};
    std::atomic<size_t> nFirstFailed{SIZE_MAX};
    size_t nLogged = 0;
    bool bFailed = false;
    const auto logRead = [&] {
        for (; !bFailed && nLogged < entries.size() && read[nLogged].load(std::memory_order_acquire); ++nLogged)
            bFailed = !LogChecked(pszFolder, entries[nLogged], results[nLogged]);
    };
    RunAlongside(entries.size() > 1 ? nHelpers : 0, [&](int nWorker) {
        std::unique_ptr<uint8_t[]> piece(new (std::nothrow) uint8_t[kCrcPieceBytes]);
        for (;;) {
            const size_t i = nNext++;
            if (i >= entries.size() || i > nFirstFailed)
                return;
            if (pStop && pStop->IsStopped())
                return;
            results[i] = ReadFileCrc(pszFolder, entries[i].strName.c_str(), piece.get(), pHeld);
            read[i].store(true, std::memory_order_release);
            if (results[i].failure != FileCrc::kNone || results[i].nCrc != entries[i].nCrc) {
                LowerTo(nFirstFailed, i);
                return;
            }
            if (nWorker == 0)
                logRead();
        }
    });
    // A file not read means a stop came first.
    logRead();
    return !bFailed && nLogged == entries.size() ? 1 : 0;
}

uint32_t GetFileCRC(const wchar_t* pszFolder, const wchar_t* pszRelativeName)
{
    if (!pszRelativeName || pszRelativeName[0] == L'\0')
        return 0;
    std::unique_ptr<uint8_t[]> piece(new (std::nothrow) uint8_t[kCrcPieceBytes]);
    return LoggedCrc(pszFolder, pszRelativeName, ReadFileCrc(pszFolder, pszRelativeName, piece.get(), nullptr));
}
