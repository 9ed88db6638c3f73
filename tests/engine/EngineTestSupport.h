#pragma once

#include "engine/InstallObserver.h"
#include "engine/InstallSession.h"
#include "system/UninstallRegistration.h"
#include "tests/support/LogCapture.h"
#include "tests/support/RegOverride.h"
#include "tests/support/TempDir.h"

#include <cstdint>
#include <string>
#include <vector>

// Keeps what an install session reports, for the tests to check: errors
// and status lines as the user reads them. Nobody answers a proxy.
class CRecordingObserver : public IInstallObserver {
public:
    void OnPackageStarted(const std::wstring& strPackage) override
    {
        m_vecStatus.push_back(PackageStatusText(strPackage));
    }
    void OnError(const InstallError& error) override { m_vecErrors.push_back(InstallErrorText(error)); }
    void OnErrorCleared() override { ++m_nHides; }
    void OnProgress(int nPercent) override { m_vecProgress.push_back(nPercent); }
    void OnPackageDownload(const PackageDownloadState& state) override { m_vecDownloads.push_back(state); }
    void OnFinished(bool bSucceeded) override { m_nFinished = bSucceeded ? 1 : 0; }
    bool AskProxyCredentials(const StopToken&, std::wstring*, std::wstring*) override { return false; }
    void ShowProxyCredentialsRefused(const StopToken&) override {}

    std::vector<std::wstring> m_vecErrors;
    std::vector<std::wstring> m_vecStatus;
    std::vector<int> m_vecProgress;
    std::vector<PackageDownloadState> m_vecDownloads;
    int m_nHides = 0;
    // -1 until the session reports its end.
    int m_nFinished = -1;
};

// The nginx started for the engine tests: its folder (as a Windows path)
// and the base URL below which it serves that folder's "EX3".
std::wstring TestServerFolder();
std::wstring TestServerBaseUrl();
// What a successful install registers lands in folders of the test's own
// and goes again with it: the shortcuts' folders are redirected, the
// uninstall key removed before and after.
class CRegistrationSandbox {
public:
    CRegistrationSandbox()
    {
        m_bReady = m_desktopValue.Set(m_desktop.Path()) && m_programsValue.Set(m_programs.Path());
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, UninstallKeyPath().c_str());
    }
    ~CRegistrationSandbox() { ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, UninstallKeyPath().c_str()); }
    CRegistrationSandbox(const CRegistrationSandbox&) = delete;
    CRegistrationSandbox& operator=(const CRegistrationSandbox&) = delete;

    bool Ready() const { return m_bReady; }
    const CTempDir& Desktop() const { return m_desktop; }
    const CTempDir& Programs() const { return m_programs; }

private:
    static constexpr wchar_t kShellFolders[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
    CTempDir m_desktop;
    CTempDir m_programs;
    CRegValueOverride m_desktopValue{HKEY_CURRENT_USER, kShellFolders, L"Desktop"};
    CRegValueOverride m_programsValue{HKEY_LOCAL_MACHINE, kShellFolders, L"Common Programs"};
    bool m_bReady = false;
};

// Settings for an install below the root folder (its "Brivex Client" and
// "temp"), from the test server, for package groups 1 and 2, one attempt.
InstallSettings TestInstallSettings(const std::wstring& strRoot);

// Puts a file below the base URL; with no data, removes it.
bool ServeFile(const std::wstring& strName, const std::vector<uint8_t>& data);
bool RemoveServedFile(const std::wstring& strName);

// Seeded bytes that do not compress.
std::string Noise(size_t cb, uint32_t nSeed);

// A server list as UTF-16LE, with the byte-order mark unless told not to.
std::vector<uint8_t> ListBytes(const std::wstring& strText, bool bByteOrderMark = true);
