#include "engine/InstallRun.h"

#include "engine/BaseUrl.h"
#include "engine/SetupEngine.h"
#include "log/Log.h"
#include "net/HttpDownload.h"
#include "system/ClientFiles.h"
#include "system/DeleteFolder.h"
#include "zip/Zip.h"

#include <cstring>
#include <cwchar>

namespace {

constexpr int kPackageTries = 5;
constexpr int kPackageShare = 95;
constexpr int kProgressAfterUninstaller = 97;
constexpr int kTextUnits = 64;

template <size_t N, typename... Args>
bool FormatInto(wchar_t (&szOut)[N], const wchar_t* pszFormat, Args... args)
{
    int n = std::swprintf(szOut, N, pszFormat, args...);
    return n >= 0 && static_cast<size_t>(n) < N;
}

// Written files are readable and writable by others meanwhile, never
// inherited by child processes.
HANDLE CreateDownloadFile(const wchar_t* pszPath)
{
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, FALSE};
    return ::CreateFileW(pszPath, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Writes the whole block; false on a failed write, with the system's error
// code. A write may succeed short of the block (a disk that fills up): the
// rest is written again, so that the failing call reports why.
bool WriteAll(HANDLE hFile, const uint8_t* pData, int32_t nSize)
{
    DWORD dwLeft = nSize > 0 ? static_cast<DWORD>(nSize) : 0;
    while (dwLeft > 0) {
        DWORD dwWritten = 0;
        if (!::WriteFile(hFile, pData, dwLeft, &dwWritten, nullptr))
            return false;
        if (dwWritten == 0) {
            ::SetLastError(ERROR_WRITE_FAULT);
            return false;
        }
        pData += dwWritten;
        dwLeft -= dwWritten;
    }
    return true;
}

}  // namespace

DWORD WINAPI InstallThreadProc(LPVOID pParam)
{
    return static_cast<CSetupEngine*>(pParam)->InstallRun();
}

DWORD CSetupEngine::InstallRun()
{
    if (m_pDownloadBuffer)
        std::memset(m_pDownloadBuffer, 0, static_cast<size_t>(m_nDownloadCapacity));
    m_nProgress = 0;
    m_nDownloadSize = 0;

    int nCount = 0;
    if (!Execute(&nCount))
        return 1;
    if (nCount > static_cast<int>(m_vecPackages.size()))
        nCount = static_cast<int>(m_vecPackages.size());

    DeleteFolder(m_szSetupPath);

    const HWND hWndOwner = OwnerWindow();
    int nFailures = 0;
    for (int i = 0; i < nCount;) {
        if (::WaitForSingleObject(m_hStopEvent, 1) == WAIT_OBJECT_0)
            return 1;

        const PackageEntry& entry = m_vecPackages[static_cast<size_t>(i)];
        wchar_t szName[kPackageNameUnits] = {};
        std::wmemcpy(szName, entry.szName, kPackageNameUnits - 1);
        if (m_setPackageGroups.count(entry.nGroup) == 0 || szName[0] == L'\0') {
            ++i;
            nFailures = 0;
            continue;
        }

        wchar_t szText[kTextUnits];
        if (m_pNotifier && FormatInto(szText, L"正在安装%ls ......", szName))
            m_pNotifier->SetStatusText(szText);

        // A base URL or temp folder too long for the name fails the download
        // like any other, without composing a cut path.
        wchar_t szUrl[MAX_PATH] = {};
        wchar_t szArchive[MAX_PATH] = {};
        bool bFits = FormatInto(szUrl, L"%ls%ls", m_strBaseUrl.c_str(), szName) &&
                     FormatInto(szArchive, L"%ls\\%ls", m_szTempPath, szName);

        if (m_pDownloadBuffer)
            std::memset(m_pDownloadBuffer, 0, static_cast<size_t>(m_nDownloadCapacity));
        m_nDownloadSize = 0;
        if (!bFits || !HttpDownload(szUrl, &m_pDownloadBuffer, &m_nDownloadSize, &m_nDownloadCapacity, m_szProxyUser,
                                    m_szProxyPassword, hWndOwner)) {
            if (++nFailures == kPackageTries) {
                FormatInto(szText, L"下载%ls失败", szName);
                ShowError(szText);
                LogError(L"[CSetupDlg::Execute] download %ls failed", szName);
                return 1;
            }
            LogError(L"[CSetupDlg::Execute] %d download %ls failed", nFailures, szUrl);
            continue;
        }
        LogNormal(L"[CSetupDlg::Execute] download %ls sccuss filesize=%ld", szUrl, static_cast<long>(m_nDownloadSize));

        HANDLE hFile = CreateDownloadFile(szArchive);
        bool bWritten = false;
        DWORD dwError = ::GetLastError();
        if (hFile != INVALID_HANDLE_VALUE) {
            bWritten = WriteAll(hFile, m_pDownloadBuffer, m_nDownloadSize);
            dwError = ::GetLastError();
            ::CloseHandle(hFile);
            if (!bWritten) {
                // A cut archive would unpack as something it is not, and on
                // a full disk it would keep the room the log needs.
                ::DeleteFileW(szArchive);
                LogError(L"[CSetupDlg::Execute] WriteFile(%ls) Error(%d)", szArchive, static_cast<int>(dwError));
            }
        }
        if (!bWritten) {
            if (++nFailures == kPackageTries) {
                FormatInto(szText, L"安装%ls失败", szName);
                ShowError(szText);
                LogNormal(L"[CSetupDlg::Execute] %ls CreateFile(%ls) Error(%d)", szName, szArchive,
                          static_cast<int>(dwError));
                return 1;
            }
            LogNormal(L"[CSetupDlg::Execute] %d CreateFile(%ls) Error(%d)", nFailures, szArchive,
                      static_cast<int>(dwError));
            continue;
        }

        if (!UnZip(szArchive, m_szSetupPath)) {
            if (++nFailures == kPackageTries) {
                FormatInto(szText, L"安装%ls失败", szName);
                ShowError(szText);
                return 1;
            }
            continue;
        }

        ::DeleteFileW(szArchive);
        ++i;
        nFailures = 0;
        m_nProgress = static_cast<int>(i * static_cast<double>(kPackageShare) / nCount);
        if (m_pNotifier)
            m_pNotifier->PostProgress();
    }

    DownloadUninstallFile();
    m_nProgress = kProgressAfterUninstaller;
    if (m_pNotifier)
        m_pNotifier->PostProgress();

    if (CheckFileCRC())
        return 0;
    LogNormal(L"[CSetupDlg::Execute] CheckFileCRC failed");
    ShowError(L"校验失败");
    return 1;
}

BOOL CSetupEngine::UnZip(const wchar_t* pszArchive, const wchar_t* pszDestFolder)
{
    if (!pszArchive || !pszDestFolder) {
        LogError(L"[CSetupDlg::UnZip] 原文件=%ls  目标文件=%ls", pszArchive ? pszArchive : L"(null)",
                 pszDestFolder ? pszDestFolder : L"(null)");
        return FALSE;
    }
    ScopedZip zip(OpenZip(pszArchive, nullptr));
    if (!zip) {
        LogError(L"[CSetupDlg::UnZip] OpenZip %ls failed", pszArchive);
        return FALSE;
    }
    SetZipTargetFolder(zip.Get(), pszDestFolder);

    ZipItemInfo info = {};
    QueryZipItem(zip.Get(), -1, &info);
    const int nItems = info.nIndex;
    for (int i = 0; i < nItems; ++i) {
        info = {};
        // An entry that cannot be read would otherwise be left out while the
        // package counts as installed.
        if (QueryZipItem(zip.Get(), i, &info) != ZIPERR_NONE) {
            LogError(L"[CSetupDlg::UnZip] QueryZipItem %d failed", i);
            return FALSE;
        }
        if (info.nCompressedSize == 0 || info.szName[0] == L'\0')
            continue;
        if (UnzipItem(zip.Get(), i, info.szName) != ZIPERR_NONE) {
            LogError(L"[CSetupDlg::UnZip] UnzipItem %ls failed", info.szName);
            return FALSE;
        }
    }
    return TRUE;
}

BOOL CSetupEngine::DownloadUninstallFile()
{
    if (m_pDownloadBuffer)
        std::memset(m_pDownloadBuffer, 0, static_cast<size_t>(m_nDownloadCapacity));
    m_nDownloadSize = 0;

    wchar_t szUrl[MAX_PATH] = {};
    FormatInto(szUrl, L"%lsUnInstall.exe", m_strBaseUrl.c_str());
    LogNormal(L"[CSetupDlg::Execute] UnInstall.exe-url = %ls", szUrl);
    if (!HttpDownload(szUrl, &m_pDownloadBuffer, &m_nDownloadSize, &m_nDownloadCapacity, m_szProxyUser,
                      m_szProxyPassword, OwnerWindow())) {
        LogError(L"[CSetupDlg::DownloadUninstallFile] download UnInstall.exe failed");
        return FALSE;
    }
    LogNormal(L"[CSetupDlg::DownloadUninstallFile] Download UnInstall.exe seccuss");

    // The uninstaller goes where the registration and the uninstall shortcut
    // point: the install folder, whatever its name. A list without packages
    // for this machine leaves no install folder, so make it.
    wchar_t szTarget[MAX_PATH] = {};
    HANDLE hFile = INVALID_HANDLE_VALUE;
    if (ComposeUninstallerPath(m_szSetupPath, szTarget)) {
        ::CreateDirectoryW(m_szSetupPath, nullptr);
        if (::GetFileAttributesW(szTarget) != INVALID_FILE_ATTRIBUTES)
            ::DeleteFileW(szTarget);
        hFile = CreateDownloadFile(szTarget);
    }
    if (hFile == INVALID_HANDLE_VALUE) {
        LogError(L"[CSetupDlg::DownloadUninstallFile] Create file UnInstall.exe failed");
        return FALSE;
    }
    bool bWritten = WriteAll(hFile, m_pDownloadBuffer, m_nDownloadSize);
    DWORD dwError = ::GetLastError();
    ::CloseHandle(hFile);
    if (!bWritten) {
        LogError(L"[CSetupDlg::DownloadUninstallFile] WriteFile UnInstall.exe failed error=%lu", dwError);
        ::DeleteFileW(szTarget);
        return FALSE;
    }
    LogNormal(L"[CSetupDlg::DownloadUninstallFile] Create file UnInstall.exe seccuss");
    return TRUE;
}
