#include "engine/BufferFile.h"
#include "engine/FileVerify.h"
#include "engine/InstalledFiles.h"
#include "engine/InstallSession.h"
#include "engine/PackageFile.h"
#include "engine/WorkerThread.h"
#include "framework/SafeFile.h"
#include "log/Log.h"
#include "system/ClientFiles.h"
#include "system/DeleteFolder.h"
#include "system/FolderSecurity.h"
#include "system/PathFormat.h"
#include "zip/ItemPath.h"
#include "zip/Zip.h"

#include <atomic>
#include <climits>
#include <string>
#include <vector>

namespace {

constexpr int kPackageTries = 5;
constexpr int kPackageShare = 95;
constexpr int kProgressAfterUninstaller = 97;
constexpr int kTextUnits = 64;
// A package of fewer entries is unpacked by one reader.
constexpr size_t kSharedUnzipEntries = 8;

}  // namespace

struct InstallSession::PackageTry {
    enum Fault { kNone, kDownload, kSave, kUnpack } fault = kNone;
    const wchar_t* pszName = nullptr;
    wchar_t szUrl[MAX_PATH] = {};
    wchar_t szArchive[MAX_PATH] = {};
    DWORD dwError = 0;  // of the failed save
};

DWORD WINAPI InstallSession::InstallThreadProc(LPVOID pParam)
{
    InstallSession* pSession = static_cast<InstallSession*>(pParam);
    const DWORD dwExitCode = pSession->InstallRun();
    // Under Wine held files use up descriptors of the server, which the
    // failed step may have lacked: the next attempts hold none.
    if (dwExitCode != 0)
        pSession->m_heldFiles.GiveUp();
    else
        pSession->m_heldFiles.ReleaseAll();
    return dwExitCode;
}

DWORD InstallSession::InstallRun()
{
    m_dwLastFailureError = 0;
    int nCount = 0;
    if (!StartRelease() || !Execute(&nCount))
        return 1;
    if (nCount > static_cast<int>(m_vecPackages.size()))
        nCount = static_cast<int>(m_vecPackages.size());

    DeleteFolder(m_location.szSetupPath);
    // A link that could not be removed would take every file to where it
    // leads.
    if (IsLink(m_location.szSetupPath)) {
        LogError(L"[CSetupDlg::Execute] %ls is a link that cannot be removed", m_location.szSetupPath);
        ShowError(L"安装失败");
        return 1;
    }
    if (!SecureRunFolders())
        return 1;

    // Kept across the tries of one package: a try after a cut continues it.
    // What a run that ends meanwhile leaves of it goes with it.
    PackageFile archive(m_bReleaseRequired,
                        [this](uint64_t nHave, uint64_t nTotal) { ReportDownloadBytes(nHave, nTotal); });
    int nFailures = 0;
    for (int i = 0; i < nCount;) {
        if (StopRequested())
            return 1;
        const PackageEntry& entry = m_vecPackages[static_cast<size_t>(i)];
        if (m_setPackageGroups.count(entry.nGroup) == 0 || entry.szName[0] == L'\0') {
            ++i;
            nFailures = 0;
            continue;
        }
        const PackageTry result = TryPackage(entry.szName, &archive);
        if (result.fault != PackageTry::kNone) {
            // A try the stop cut short is no failure of the package.
            if (StopRequested())
                return 1;
            if (ReportFailedTry(result, ++nFailures))
                return 1;
            continue;
        }
        ++i;
        nFailures = 0;
        ReportProgress(static_cast<int>(i * static_cast<double>(kPackageShare) / nCount));
    }

    if (!FetchUninstaller())
        return 1;
    ReportProgress(kProgressAfterUninstaller);

    if (CheckFileCRC())
        return 0;
    LogNormal(L"[CSetupDlg::Execute] CheckFileCRC failed");
    ShowError(L"校验失败");
    return 1;
}

// Another user must not change what the run writes before an administrator
// runs it: both folders are closed to them, whether made here or found.
bool InstallSession::SecureRunFolders()
{
    for (const wchar_t* pszFolder : {m_location.szTempPath, m_location.szSetupPath}) {
        const wchar_t* pszStep = L"";
        const DWORD dwError = SecureFolder(pszFolder, &pszStep);
        if (dwError != ERROR_SUCCESS) {
            LogError(L"[CSetupDlg::Execute] %ls cannot be closed to other users: %ls error=%lu", pszFolder, pszStep,
                     dwError);
            ShowError(L"安装失败");
            return false;
        }
    }
    return true;
}

// A release names the uninstaller, so in a signed release it must arrive
// like any package: otherwise the registration would name a file that is
// not there, for anyone to plant. Without a release its failure is logged
// and the run goes on.
bool InstallSession::FetchUninstaller()
{
    if (!m_bReleaseRequired) {
        DownloadUninstallFile();
        return true;
    }
    PackageTry result;
    result.fault = PackageTry::kDownload;
    result.pszName = kUninstallerName;
    FormatPath(result.szUrl, L"%ls%ls", m_strBaseUrl.c_str(), kUninstallerName);
    for (int nFailures = 1;; ++nFailures) {
        if (StopRequested())
            return false;
        if (DownloadUninstallFile())
            return true;
        if (StopRequested() || ReportFailedTry(result, nFailures))
            return false;
    }
}

// Fetches the package into its temp file, or the rest of it after a cut,
// unpacks it into the install folder and deletes the archive.
InstallSession::PackageTry InstallSession::TryPackage(const wchar_t* pszName, PackageFile* pArchive)
{
    PackageTry result;
    result.pszName = pszName;
    wchar_t szText[kTextUnits];
    if (m_pObserver && FormatPath(szText, L"正在安装%ls ......", pszName))
        m_pObserver->OnStatusText(szText);

    // A base URL or temp folder too long for the name fails the download
    // like any other, without composing a cut path.
    if (!FormatPath(result.szUrl, L"%ls%ls", m_strBaseUrl.c_str(), pszName) ||
        !FormatPath(result.szArchive, L"%ls\\%ls", m_location.szTempPath, pszName)) {
        result.fault = PackageTry::kDownload;
        return result;
    }
    // Held open from its creation to the end of its unpack, so that nobody
    // can swap it meanwhile.
    if (!pArchive->IsOpen()) {
        result.dwError = pArchive->Create(result.szArchive);
        if (result.dwError != ERROR_SUCCESS) {
            result.fault = PackageTry::kSave;
            return result;
        }
    }

    m_download = PackageDownloadState();
    m_download.strName = pszName;
    m_bDownloadBegun = false;
    const bool bFetched = FetchPackage(result.szUrl, pArchive, &result.dwError);
    m_download.bEnded = true;
    if (m_pObserver)
        m_pObserver->OnPackageDownload(m_download);
    if (result.dwError != ERROR_SUCCESS) {
        LogError(L"[CSetupDlg::Execute] WriteFile(%ls) Error(%d)", result.szArchive, static_cast<int>(result.dwError));
        pArchive->Close(true);
        result.fault = PackageTry::kSave;
        return result;
    }
    if (!bFetched) {
        result.fault = PackageTry::kDownload;
        return result;
    }
    LogNormal(L"[CSetupDlg::Execute] download %ls sccuss filesize=%llu", result.szUrl,
              static_cast<unsigned long long>(pArchive->Size()));

    // The next try fetches it again, whether this unpack got far or not.
    const bool bUnpacked = UnZip(result.szArchive, m_location.szSetupPath, pArchive->Handle()) != FALSE;
    pArchive->Close(bUnpacked);
    if (!bUnpacked)
        result.fault = PackageTry::kUnpack;
    return result;
}

bool InstallSession::ReportFailedTry(const PackageTry& result, int nFailures)
{
    const bool bLast = nFailures == kPackageTries;
    if (bLast) {
        m_dwLastFailureError = result.fault == PackageTry::kSave ? result.dwError : 0;
        wchar_t szText[kTextUnits];
        FormatPath(szText, result.fault == PackageTry::kDownload ? L"下载%ls失败" : L"安装%ls失败", result.pszName);
        ShowError(szText);
    }
    switch (result.fault) {
    case PackageTry::kDownload:
        if (bLast)
            LogError(L"[CSetupDlg::Execute] download %ls failed", result.pszName);
        else
            LogError(L"[CSetupDlg::Execute] %d download %ls failed", nFailures, result.szUrl);
        break;
    case PackageTry::kSave:
        if (bLast)
            LogNormal(L"[CSetupDlg::Execute] %ls CreateFile(%ls) Error(%d)", result.pszName, result.szArchive,
                      static_cast<int>(result.dwError));
        else
            LogNormal(L"[CSetupDlg::Execute] %d CreateFile(%ls) Error(%d)", nFailures, result.szArchive,
                      static_cast<int>(result.dwError));
        break;
    case PackageTry::kUnpack:  // the unpacking logged what failed
    case PackageTry::kNone:
        break;
    }
    return bLast;
}

int InstallSession::Execute(int* pnCount)
{
    const std::wstring strUrl = m_strBaseUrl + L"divozira.txt";
    LogNormal(L"[CSetupDlg::Execute] start download  %ls", strUrl.c_str());
    int32_t nSize = 0;
    std::wstring strText;
    if (!FetchServerList(strUrl.c_str(), &nSize, &strText)) {
        ShowError(L"下载Setupconfig.txt失败");
        LogError(L"[CSetupDlg::Execute] download Setupconfig.txt failed");
        return 0;
    }
    if (nSize < 3) {
        ShowError(L"下载Setupconfig.txt失败");
        LogError(L"[CSetupDlg::Execute] download Setupconfig.txt faile");
        return 0;
    }

    LogNormal(L"[CSetupDlg::Execute] divozira.txt Begin");
    LogNormal(L"[CSetupDlg::Execute] %ls", strText.c_str());
    LogNormal(L"[CSetupDlg::Execute] divozira.txt End");
    if (strText.empty() || ParsePackageList(strText, &m_vecPackages) <= 0) {
        ShowError(L"divozira.txt为空");
        LogError(L"[CSetupDlg::Execute]Setupconfig.txt no content");
        return 0;
    }
    LogNormal(L"[CSetupDlg::Execute] download divozira.txt sccuss");
    *pnCount = static_cast<int>(m_vecPackages.size());
    return 1;
}

int InstallSession::CheckFileCRC()
{
    const std::wstring strUrl = m_strBaseUrl + L"filecrc.txt";
    LogNormal(L"[CSetupDlg::Execute] filecrc.txt-url = %ls", strUrl.c_str());
    int32_t nSize = 0;
    std::wstring strText;
    if (!FetchServerList(strUrl.c_str(), &nSize, &strText) || nSize < 3) {
        LogError(L"[CAutoSetupDlg::CheckFileCRC] download filecrc.txt failed");
        return 0;
    }

    const int nMatched =
        VerifyInstalledFiles(m_location.szSetupPath, strText, m_runStop.Event(), m_nFileHelpers, &m_heldFiles);
    // Unlisted files too: nothing may stay closed to the client.
    m_heldFiles.ReleaseAll();
    return nMatched;
}

BOOL InstallSession::UnZip(const wchar_t* pszArchive, const wchar_t* pszDestFolder, HANDLE hArchive)
{
    if (!pszArchive || !pszDestFolder) {
        LogError(L"[CSetupDlg::UnZip] 原文件=%ls  目标文件=%ls", pszArchive ? pszArchive : L"(null)",
                 pszDestFolder ? pszDestFolder : L"(null)");
        return FALSE;
    }
    ScopedZip zip(OpenZipFromHandle(hArchive, pszArchive, nullptr));
    if (!zip) {
        LogError(L"[CSetupDlg::UnZip] OpenZip %ls failed", pszArchive);
        return FALSE;
    }
    SetZipTargetFolder(zip.Get(), pszDestFolder);
    HoldZipItemFiles(zip.Get(), &m_heldFiles);

    // The names first, up to the first entry that cannot be read: an entry
    // left out would otherwise let the package count as installed.
    ZipItemInfo info = {};
    QueryZipItem(zip.Get(), -1, &info);
    const int nItems = info.nIndex;
    std::vector<std::wstring> names;
    names.reserve(static_cast<size_t>(nItems));
    int nUnreadable = -1;
    for (int i = 0; i < nItems; ++i) {
        if (StopRequested())
            return FALSE;
        info = {};
        if (QueryZipItem(zip.Get(), i, &info) != ZIPERR_NONE) {
            nUnreadable = i;
            break;
        }
        names.emplace_back(info.szName);
    }

    // Folder entries make their folder; any other entry is a file, an empty
    // one included. Entries that cannot meet are written by several readers
    // at once, one per file helper more: under Wine each file's creation
    // waits on the server, and the other readers inflate meanwhile.
    std::vector<ScopedZip> readers;
    readers.push_back(std::move(zip));
    if (names.size() >= kSharedUnzipEntries && AreSeparateTargets(names)) {
        for (int k = 0; k < m_nFileHelpers; ++k) {
            ScopedZip more(OpenZipFromHandle(hArchive, pszArchive, nullptr));
            if (more && SetZipTargetFolder(more.Get(), pszDestFolder) == ZIPERR_NONE) {
                HoldZipItemFiles(more.Get(), &m_heldFiles);
                readers.push_back(std::move(more));
            }
        }
    }
    std::atomic<int> nNext{0};
    std::atomic<int> nFirstFailed{INT_MAX};
    std::atomic<bool> bStopped{false};
    RunAlongside(static_cast<int>(readers.size()) - 1, [&](int nWorker) {
        ZipHandle hZip = readers[static_cast<size_t>(nWorker)].Get();
        for (;;) {
            const int i = nNext++;
            if (i >= static_cast<int>(names.size()) || i > nFirstFailed)
                return;
            if (StopRequested()) {
                bStopped = true;
                return;
            }
            if (names[static_cast<size_t>(i)].empty())
                continue;
            if (UnzipItem(hZip, i, names[static_cast<size_t>(i)].c_str()) != ZIPERR_NONE) {
                LowerTo(nFirstFailed, i);
                return;
            }
        }
    });
    if (bStopped)
        return FALSE;
    if (nFirstFailed != INT_MAX) {
        LogError(L"[CSetupDlg::UnZip] UnzipItem %ls failed", names[static_cast<size_t>(nFirstFailed.load())].c_str());
        return FALSE;
    }
    if (nUnreadable >= 0) {
        LogError(L"[CSetupDlg::UnZip] QueryZipItem %d failed", nUnreadable);
        return FALSE;
    }
    return TRUE;
}

BOOL InstallSession::DownloadUninstallFile()
{
    wchar_t szUrl[MAX_PATH] = {};
    FormatPath(szUrl, L"%lsUnInstall.exe", m_strBaseUrl.c_str());
    LogNormal(L"[CSetupDlg::Execute] UnInstall.exe-url = %ls", szUrl);
    // The uninstaller goes where the registration and the uninstall shortcut
    // point: the install folder, whatever its name. A list without packages
    // for this machine leaves no install folder, so make it.
    SaveResult saved = {SaveResult::kCreateFailed, ERROR_FILENAME_EXCED_RANGE};
    if (!FetchIntoBuffer(szUrl, [&](const BodyView& body) {
            LogNormal(L"[CSetupDlg::DownloadUninstallFile] Download UnInstall.exe seccuss");
            wchar_t szTarget[MAX_PATH] = {};
            if (ComposeUninstallerPath(m_location.szSetupPath, szTarget)) {
                ::CreateDirectoryW(m_location.szSetupPath, nullptr);
                // A package may hold a file of the same name.
                m_heldFiles.Release(szTarget);
                saved = SaveBufferToFile(szTarget, body.Data(), body.Size());
            }
            return true;
        })) {
        LogError(L"[CSetupDlg::DownloadUninstallFile] download UnInstall.exe failed");
        return FALSE;
    }
    if (saved.outcome == SaveResult::kCreateFailed) {
        LogError(L"[CSetupDlg::DownloadUninstallFile] Create file UnInstall.exe failed");
        return FALSE;
    }
    if (saved.outcome == SaveResult::kWriteFailed) {
        LogError(L"[CSetupDlg::DownloadUninstallFile] WriteFile UnInstall.exe failed error=%lu", saved.dwError);
        return FALSE;
    }
    LogNormal(L"[CSetupDlg::DownloadUninstallFile] Create file UnInstall.exe seccuss");
    return TRUE;
}
