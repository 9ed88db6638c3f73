#pragma once

#include "engine/PackageList.h"
#include "system/InstallLocation.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <set>
#include <vector>

constexpr int32_t kDownloadBufferSize = 0xA00000;
constexpr int kProxyCredentialUnits = 64;

// The install state of the setup window: download buffer, install paths,
// progress, proxy credentials and the package list. The window derives
// from it; the engine's tests use it without a window.
class CSetupEngine {
public:
    CSetupEngine();
    virtual ~CSetupEngine();
    CSetupEngine(const CSetupEngine&) = delete;
    CSetupEngine& operator=(const CSetupEngine&) = delete;

    // Settles the default location from the machine's drive list.
    void GetDestPath();
    // The same for a given drive list (as GetLogicalDriveStrings gives it).
    void SettleDefaultLocation(const wchar_t* pszDrives, size_t cchDrives);
    // Settles the location below a folder the user picked. Returns false,
    // with nothing changed, when the paths below it would not fit.
    bool SettleBrowsedLocation(const wchar_t* pszFolder);

    uint8_t* m_pDownloadBuffer = nullptr;
    int32_t m_nDownloadCapacity = 0;
    int32_t m_nDownloadSize = 0;

    wchar_t m_szSetupPath[MAX_PATH] = {};
    wchar_t m_szUnInstallPath[MAX_PATH] = {};
    wchar_t m_szInstallRoot[MAX_PATH] = {};

    // Written by the install threads, read by the window's thread.
    std::atomic<int> m_nProgress{0};

    wchar_t m_szTempPath[MAX_PATH] = {};
    std::atomic<int> m_bConfirmClose{1};

    wchar_t m_szProxyUser[kProxyCredentialUnits] = {};
    wchar_t m_szProxyPassword[kProxyCredentialUnits] = {};

    std::set<int> m_setPackageGroups;
    std::vector<PackageEntry> m_vecPackages;

private:
    void ApplyLocation(const InstallLocation& location);
};
