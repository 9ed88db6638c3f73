#include "engine/InstallRun.h"

#include "engine/BufferFile.h"
#include "engine/FileVerify.h"
#include "engine/InstalledFiles.h"
#include "engine/PackageFile.h"
#include "engine/ServerFiles.h"
#include "engine/WorkerThread.h"
#include "framework/SafeFile.h"
#include "framework/StopToken.h"
#include "log/Log.h"
#include "system/ClientFiles.h"
#include "system/FolderSecurity.h"
#include "system/FolderSwap.h"
#include "system/InstallLocation.h"
#include "system/PathFormat.h"
#include "zip/ItemPath.h"
#include "zip/Zip.h"

#include <atomic>
#include <climits>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr int kPackageTries = 5;
constexpr int kPackageShare = 95;
constexpr int kProgressAfterUninstaller = 97;
// A package of fewer entries is unpacked by one reader.
constexpr size_t kSharedUnzipEntries = 8;
// A package download is reported at most this often.
constexpr DWORD kDownloadReportMs = 250;
constexpr wchar_t kWorkFolderPrefix[] = L"Fenmora";

}  // namespace

struct InstallRun::PackageTry {
    enum Fault { kNone, kDownload, kSave, kUnpack } fault = kNone;
    const wchar_t* pszName = nullptr;
    wchar_t szUrl[MAX_PATH] = {};
    wchar_t szArchive[MAX_PATH] = {};
    Result saved;  // the failed save
};

InstallRun::InstallRun(const InstallSettings& settings, ServerFiles& server, IInstallObserver* pObserver,
                       const StopToken& stop, AttemptCarry& carry)
    : m_settings(settings), m_server(server), m_pObserver(pObserver), m_stop(stop), m_carry(carry),
      m_heldFiles(carry.bHoldFiles ? HeldFiles::kDefaultLimit : 0)
{
}

DWORD InstallRun::Run()
{
    const DWORD dwResult = RunSteps();
    // Before the stage can be removed: nothing of it stays open.
    m_heldFiles.ReleaseAll();
    if (dwResult != 0)
        m_carry.bHoldFiles = false;
    if (!m_strStage.empty() && m_bStageVerified)
        m_carry.strVerifiedStage = m_strStage;
    else if (!m_strStage.empty())
        RemoveStage();
    return dwResult;
}

DWORD InstallRun::RunSteps()
{
    // The earlier attempt made and verified the stage; only its swap failed.
    if (!m_carry.strVerifiedStage.empty()) {
        m_strStage = std::move(m_carry.strVerifiedStage);
        m_carry.strVerifiedStage.clear();
        m_bStageVerified = true;
        return Swap() ? 0 : 1;
    }

    int nCount = 0;
    if (!m_server.StartRelease()) {
        // What the user sees of a release that cannot be trusted is what a
        // failed package-list download shows.
        ShowError(InstallError::kListDownload);
        LogError(L"[CSetupDlg::Execute] download Setupconfig.txt failed");
        return 1;
    }
    if (!Execute(&nCount))
        return 1;
    if (nCount > static_cast<int>(m_vecPackages.size()))
        nCount = static_cast<int>(m_vecPackages.size());

    RemoveLeftoverSiblings(m_settings.location.szSetupPath, [](const std::wstring& strPath, size_t nLeft) {
        LogNormal(L"[CSetupDlg::Execute] %ls of an earlier run removed, %lu entries left", strPath.c_str(),
                  static_cast<unsigned long>(nLeft));
    });
    if (!CheckRoom(nCount) || !CheckInstallRoot() || !PrepareWorkFolder() || !MakeStage())
        return 1;

    int nFailures = 0;
    for (int i = 0; i < nCount;) {
        if (m_stop.IsStopped())
            return 1;
        const PackageEntry& entry = m_vecPackages[static_cast<size_t>(i)];
        if (m_settings.setPackageGroups.count(entry.nGroup) == 0 || entry.szName[0] == L'\0') {
            ++i;
            nFailures = 0;
            continue;
        }
        const PackageTry result = TryPackage(static_cast<size_t>(i), entry.szName);
        if (result.fault != PackageTry::kNone) {
            // A try the stop cut short is no failure of the package.
            if (m_stop.IsStopped())
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

    if (!CheckFileCRC()) {
        LogNormal(L"[CSetupDlg::Execute] CheckFileCRC failed");
        ShowError(InstallError::kVerification);
        return 1;
    }
    m_bStageVerified = true;
    return Swap() ? 0 : 1;
}

void RemoveAndLog(const wchar_t* pszWhat, const std::wstring& strFolder)
{
    const size_t nLeft = RemoveFolderNowOrLater(strFolder.c_str());
    if (nLeft == 0)
        LogNormal(L"[CSetupDlg::Execute] %ls %ls removed", pszWhat, strFolder.c_str());
    else
        LogNormal(L"[CSetupDlg::Execute] %ls %ls not removed in full: %lu entries left to the next run or the "
                  L"system's next start",
                  pszWhat, strFolder.c_str(), static_cast<unsigned long>(nLeft));
}

bool InstallRun::CheckRoom(int nCount)
{
    // Without a release the sizes are not known before the downloads; each
    // archive and each package's files are checked as they come.
    uint64_t nArchives = m_server.ListedSize(kUninstallerName);
    for (int i = 0; i < nCount; ++i) {
        const PackageEntry& entry = m_vecPackages[static_cast<size_t>(i)];
        if (m_settings.setPackageGroups.count(entry.nGroup))
            nArchives += m_server.ListedSize(entry.szName);
    }
    // The archives stay for a later attempt, and their files take at
    // least as much again.
    const uint64_t nNeeded = 2 * nArchives;
    ULONGLONG ullFree = 0;
    const wchar_t* pszRoot = m_settings.location.szInstallRoot;
    if (nNeeded == 0 || !GetFreeBytes(pszRoot, &ullFree) || ullFree >= nNeeded)
        return true;
    LogError(L"[CSetupDlg::Execute] %ls has %llu bytes free, the install needs at least %llu", pszRoot,
             static_cast<unsigned long long>(ullFree), static_cast<unsigned long long>(nNeeded));
    m_dwFailureError = ERROR_DISK_FULL;
    ShowError(InstallError::kFolders);
    return false;
}

// A folder of this run's own, closed to other users from its creation: a
// folder found under the name is never used, another name is.
bool InstallRun::MakeStage()
{
    constexpr int kNames = 3;
    Result made = Result::Failed(L"RandomSibling", ERROR_FILENAME_EXCED_RANGE);
    for (int i = 0; i < kNames && m_strStage.empty(); ++i) {
        const std::wstring strStage = RandomSibling(m_settings.location.szSetupPath);
        if (strStage.empty())
            break;
        made = CreateProtectedFolder(strStage.c_str());
        if (made)
            m_strStage = strStage;
        else if (made.Error() != ERROR_ALREADY_EXISTS)
            break;
    }
    if (m_strStage.empty()) {
        LogError(L"[CSetupDlg::Execute] no staging folder beside %ls: %ls error=%lu", m_settings.location.szSetupPath,
                 made.What(), made.Error());
        ShowError(InstallError::kFolders);
        return false;
    }
    LogNormal(L"[CSetupDlg::Execute] staging in %ls", m_strStage.c_str());
    return true;
}

void InstallRun::RemoveStage()
{
    RemoveAndLog(L"staging folder", m_strStage);
    m_strStage.clear();
}

bool InstallRun::Swap()
{
    const wchar_t* pszSetup = m_settings.location.szSetupPath;
    std::wstring strAside;
    if (::GetFileAttributesW(pszSetup) != INVALID_FILE_ATTRIBUTES) {
        strAside = RandomSibling(pszSetup);
        const Result moved = strAside.empty() ? Result::Failed(L"RandomSibling", ERROR_FILENAME_EXCED_RANGE)
                                              : RenameFolder(pszSetup, strAside.c_str());
        if (!moved) {
            LogError(L"[CSetupDlg::Execute] %ls cannot be moved aside: %ls error=%lu", pszSetup, moved.What(),
                     moved.Error());
            ShowError(InstallError::kFolders);
            return false;
        }
        LogNormal(L"[CSetupDlg::Execute] earlier installation %ls moved aside to %ls", pszSetup, strAside.c_str());
    }
    // A name taken again since the earlier installation moved aside is
    // not the run's to use.
    const Result placed = RenameFolder(m_strStage.c_str(), pszSetup);
    if (!placed) {
        LogError(L"[CSetupDlg::Execute] %ls cannot take the place of %ls: %ls error=%lu", m_strStage.c_str(), pszSetup,
                 placed.What(), placed.Error());
        if (!strAside.empty() && RenameFolder(strAside.c_str(), pszSetup))
            LogNormal(L"[CSetupDlg::Execute] earlier installation %ls moved back", pszSetup);
        ShowError(InstallError::kFolders);
        return false;
    }
    LogNormal(L"[CSetupDlg::Execute] %ls installed as %ls", m_strStage.c_str(), pszSetup);
    m_strStage.clear();
    if (!strAside.empty())
        RemoveAndLog(L"earlier installation", strAside);
    return true;
}

void InstallRun::ShowError(InstallError::Kind kind, const wchar_t* pszPackage)
{
    if (m_pObserver)
        m_pObserver->OnError({kind, pszPackage});
}

void InstallRun::ReportProgress(int nPercent)
{
    if (m_pObserver)
        m_pObserver->OnProgress(nPercent);
}

void InstallRun::ReportDownloadBytes(uint64_t nHave, uint64_t nTotal)
{
    const DWORD dwNow = ::GetTickCount();
    const bool bFirst = !m_bDownloadBegun;
    if (bFirst) {
        m_bDownloadBegun = true;
        m_dwDownloadStart = dwNow;
        m_download.nResumedFrom = nHave;
    }
    m_download.nReceived = nHave;
    m_download.nTotal = nTotal;
    m_download.dwElapsedMs = dwNow - m_dwDownloadStart;
    if (!m_pObserver || (!bFirst && dwNow - m_dwDownloadReported < kDownloadReportMs))
        return;
    m_dwDownloadReported = dwNow;
    m_pObserver->OnPackageDownload(m_download);
}

// The install root as it was chosen: a link planted on its way since then
// would take the install elsewhere.
bool InstallRun::CheckInstallRoot()
{
    std::wstring strRoot = m_settings.location.szInstallRoot;
    if (strRoot.size() > 3 && strRoot.back() == L'\\')
        strRoot.pop_back();
    const Result walked = WalkChosenFolder(strRoot, false);
    if (walked)
        return true;
    LogError(L"[CSetupDlg::Execute] %ls cannot be installed in: %ls error=%lu", strRoot.c_str(), walked.What(),
             walked.Error());
    ShowError(InstallError::kFolders);
    return false;
}

// Another user must not change what the run writes before an administrator
// runs it: the archives go into a folder of the session's own below the
// temp folder, which may be shared and is never re-permissioned.
bool InstallRun::PrepareWorkFolder()
{
    if (m_carry.workFolder.IsMade())
        return true;
    // Made again, closed to other users, when it went since the start.
    const wchar_t* pszTemp = m_settings.location.szTempPath;
    Result made = CreateProtectedFolder(pszTemp);
    if (made || made.Error() == ERROR_ALREADY_EXISTS)
        made = CheckPlainFolder(pszTemp);
    if (made)
        made = m_carry.workFolder.Create(pszTemp, kWorkFolderPrefix);
    if (made) {
        LogNormal(L"[CSetupDlg::Execute] archives in %ls", m_carry.workFolder.Path().c_str());
        return true;
    }
    LogError(L"[CSetupDlg::Execute] no folder for the archives in %ls: %ls error=%lu", pszTemp, made.What(),
             made.Error());
    ShowError(InstallError::kFolders);
    return false;
}

// A release names the uninstaller, so in a signed release it must arrive
// like any package: otherwise the registration would name a file that is
// not there, for anyone to plant. Without a release its failure is logged
// and the run goes on.
bool InstallRun::FetchUninstaller()
{
    if (!m_server.ReleaseRequired()) {
        DownloadUninstallFile();
        return true;
    }
    PackageTry result;
    result.fault = PackageTry::kDownload;
    result.pszName = kUninstallerName;
    FormatPath(result.szUrl, L"%ls", m_server.UrlOf(kUninstallerName).c_str());
    for (int nFailures = 1;; ++nFailures) {
        if (m_stop.IsStopped())
            return false;
        if (DownloadUninstallFile())
            return true;
        if (m_stop.IsStopped() || ReportFailedTry(result, nFailures))
            return false;
    }
}

// Fetches the package into its temp file, or the rest of it after a cut,
// unpacks it into the install folder and deletes the archive.
InstallRun::PackageTry InstallRun::TryPackage(size_t nIndex, const wchar_t* pszName)
{
    PackageFile* pArchive = &m_carry.archives.For(nIndex, pszName);
    m_dwFailureError = 0;
    PackageTry result;
    result.pszName = pszName;
    if (m_pObserver)
        m_pObserver->OnPackageStarted(pszName);

    // A base URL or temp folder too long for the name fails the download
    // like any other, without composing a cut path.
    if (!FormatPath(result.szUrl, L"%ls", m_server.UrlOf(pszName).c_str()) ||
        !FormatPath(result.szArchive, L"%ls\\%ls", m_carry.workFolder.Path().c_str(), pszName)) {
        result.fault = PackageTry::kDownload;
        return result;
    }
    // Held open from its creation to the end of its unpack, so that nobody
    // can swap it meanwhile.
    if (!pArchive->IsOpen()) {
        result.saved = pArchive->Create(result.szArchive);
        if (!result.saved) {
            result.fault = PackageTry::kSave;
            return result;
        }
    }

    const bool bKept = pArchive->IsWhole();
    m_download = PackageDownloadState();
    m_download.strName = pszName;
    m_bDownloadBegun = false;
    pArchive->ReportTo([this](uint64_t nHave, uint64_t nTotal) { ReportDownloadBytes(nHave, nTotal); });
    const bool bFetched = m_server.FetchPackage(result.szUrl, pArchive, &result.saved);
    pArchive->ReportTo({});
    m_download.bEnded = true;
    if (m_pObserver && !bKept)
        m_pObserver->OnPackageDownload(m_download);
    if (!result.saved) {
        LogError(L"[CSetupDlg::Execute] WriteFile(%ls) Error(%d)", result.szArchive,
                 static_cast<int>(result.saved.Error()));
        pArchive->Close(true);
        result.fault = PackageTry::kSave;
        return result;
    }
    if (!bFetched) {
        result.fault = PackageTry::kDownload;
        return result;
    }
    if (bKept)
        LogNormal(L"[CSetupDlg::Execute] %ls kept from an earlier attempt, filesize=%llu", result.szArchive,
                  static_cast<unsigned long long>(pArchive->Size()));
    else
        LogNormal(L"[CSetupDlg::Execute] download %ls sccuss filesize=%llu", result.szUrl,
                  static_cast<unsigned long long>(pArchive->Size()));

    // An archive that unpacked stays for a later attempt; one that did not
    // stays on disk, and the next try fetches it again.
    if (UnZip(result.szArchive, m_strStage.c_str(), pArchive->Handle()))
        return result;
    pArchive->Close(false);
    result.fault = PackageTry::kUnpack;
    return result;
}

bool InstallRun::ReportFailedTry(const PackageTry& result, int nFailures)
{
    const bool bLast = nFailures == kPackageTries;
    if (bLast) {
        // An unpack that found no room said so itself.
        if (result.fault != PackageTry::kUnpack)
            m_dwFailureError = result.fault == PackageTry::kSave ? result.saved.Error() : 0;
        ShowError(result.fault == PackageTry::kDownload ? InstallError::kPackageDownload
                                                        : InstallError::kPackageInstall,
                  result.pszName);
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
                      static_cast<int>(result.saved.Error()));
        else
            LogNormal(L"[CSetupDlg::Execute] %d CreateFile(%ls) Error(%d)", nFailures, result.szArchive,
                      static_cast<int>(result.saved.Error()));
        break;
    case PackageTry::kUnpack:  // the unpacking logged what failed
    case PackageTry::kNone:
        break;
    }
    return bLast;
}

int InstallRun::Execute(int* pnCount)
{
    const std::wstring strUrl = m_server.UrlOf(L"divozira.txt");
    LogNormal(L"[CSetupDlg::Execute] start download  %ls", strUrl.c_str());
    int32_t nSize = 0;
    std::wstring strText;
    if (!m_server.FetchServerList(strUrl.c_str(), &nSize, &strText)) {
        ShowError(InstallError::kListDownload);
        LogError(L"[CSetupDlg::Execute] download Setupconfig.txt failed");
        return 0;
    }
    if (nSize < 3) {
        ShowError(InstallError::kListDownload);
        LogError(L"[CSetupDlg::Execute] download Setupconfig.txt faile");
        return 0;
    }

    LogNormal(L"[CSetupDlg::Execute] divozira.txt Begin");
    LogNormal(L"[CSetupDlg::Execute] %ls", strText.c_str());
    LogNormal(L"[CSetupDlg::Execute] divozira.txt End");
    if (strText.empty() || ParsePackageList(strText, &m_vecPackages) <= 0) {
        ShowError(InstallError::kListEmpty);
        LogError(L"[CSetupDlg::Execute]Setupconfig.txt no content");
        return 0;
    }
    LogNormal(L"[CSetupDlg::Execute] download divozira.txt sccuss");
    *pnCount = static_cast<int>(m_vecPackages.size());
    return 1;
}

int InstallRun::CheckFileCRC()
{
    const std::wstring strUrl = m_server.UrlOf(L"filecrc.txt");
    LogNormal(L"[CSetupDlg::Execute] filecrc.txt-url = %ls", strUrl.c_str());
    int32_t nSize = 0;
    std::wstring strText;
    if (!m_server.FetchServerList(strUrl.c_str(), &nSize, &strText) || nSize < 3) {
        LogError(L"[CAutoSetupDlg::CheckFileCRC] download filecrc.txt failed");
        return 0;
    }

    const int nMatched =
        VerifyInstalledFiles(m_strStage.c_str(), strText, &m_stop, m_settings.nFileHelpers, &m_heldFiles);
    // Unlisted files too: nothing may stay closed to the client.
    m_heldFiles.ReleaseAll();
    return nMatched;
}

BOOL InstallRun::UnZip(const wchar_t* pszArchive, const wchar_t* pszDestFolder, HANDLE hArchive)
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
    KeepZipItemFiles(zip.Get(), &m_heldFiles);

    // The names first, up to the first entry that cannot be read: an entry
    // left out would otherwise let the package count as installed.
    ZipItemInfo info = {};
    QueryZipItem(zip.Get(), -1, &info);
    const int nItems = info.nIndex;
    std::vector<std::wstring> names;
    names.reserve(static_cast<size_t>(nItems));
    int nUnreadable = -1;
    uint64_t nUnpacked = 0;
    for (int i = 0; i < nItems; ++i) {
        if (m_stop.IsStopped())
            return FALSE;
        info = {};
        if (QueryZipItem(zip.Get(), i, &info) != ZIPERR_NONE) {
            nUnreadable = i;
            break;
        }
        names.emplace_back(info.szName);
        nUnpacked += info.nUncompressedSize;
    }
    // Files that cannot fit would only fill the drive, and leave no room
    // for the log.
    ULONGLONG ullFree = 0;
    if (GetFreeBytes(pszDestFolder, &ullFree) && ullFree < nUnpacked) {
        LogError(L"[CSetupDlg::UnZip] %ls unpacks to %llu bytes, the drive has %llu free", pszArchive,
                 static_cast<unsigned long long>(nUnpacked), static_cast<unsigned long long>(ullFree));
        m_dwFailureError = ERROR_DISK_FULL;
        return FALSE;
    }

    // Folder entries make their folder; any other entry is a file, an empty
    // one included. Entries that cannot meet are written by several readers
    // at once, one per file helper more: under Wine each file's creation
    // waits on the server, and the other readers inflate meanwhile.
    std::vector<ScopedZip> readers;
    readers.push_back(std::move(zip));
    if (names.size() >= kSharedUnzipEntries && AreSeparateTargets(names)) {
        for (int k = 0; k < m_settings.nFileHelpers; ++k) {
            ScopedZip more(OpenZipFromHandle(hArchive, pszArchive, nullptr));
            if (more && SetZipTargetFolder(more.Get(), pszDestFolder) == ZIPERR_NONE) {
                KeepZipItemFiles(more.Get(), &m_heldFiles);
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
            if (m_stop.IsStopped()) {
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

BOOL InstallRun::DownloadUninstallFile()
{
    wchar_t szUrl[MAX_PATH] = {};
    FormatPath(szUrl, L"%ls", m_server.UrlOf(kUninstallerName).c_str());
    LogNormal(L"[CSetupDlg::Execute] UnInstall.exe-url = %ls", szUrl);
    // The uninstaller goes where the registration and the uninstall shortcut
    // will point once the stage is in the install folder's place.
    Result saved = Result::Failed(L"CreateFile", ERROR_FILENAME_EXCED_RANGE);
    if (!m_server.FetchIntoBuffer(szUrl, [&](const BodyView& body) {
            LogNormal(L"[CSetupDlg::DownloadUninstallFile] Download UnInstall.exe seccuss");
            wchar_t szTarget[MAX_PATH] = {};
            if (ComposeUninstallerPath(m_strStage.c_str(), szTarget)) {
                // A package may hold a file of the same name.
                m_heldFiles.LetGo(szTarget);
                saved = SaveBufferToFile(szTarget, body.Data(), body.Size());
            }
            return true;
        })) {
        LogError(L"[CSetupDlg::DownloadUninstallFile] download UnInstall.exe failed");
        return FALSE;
    }
    if (!saved && std::wcscmp(saved.What(), L"WriteFile") == 0) {
        LogError(L"[CSetupDlg::DownloadUninstallFile] WriteFile UnInstall.exe failed error=%lu", saved.Error());
        return FALSE;
    }
    if (!saved) {
        LogError(L"[CSetupDlg::DownloadUninstallFile] Create file UnInstall.exe failed");
        return FALSE;
    }
    LogNormal(L"[CSetupDlg::DownloadUninstallFile] Create file UnInstall.exe seccuss");
    return TRUE;
}
