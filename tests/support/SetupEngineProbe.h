#pragma once

#include "engine/SetupEngine.h"

// The engine's state as tests set and inspect it directly: references to
// the members, under the members' own names.
class CSetupEngineProbe {
public:
    explicit CSetupEngineProbe(CSetupEngine& engine)
        : m_pDownloadBuffer(engine.m_pDownloadBuffer),
          m_nDownloadCapacity(engine.m_nDownloadCapacity),
          m_nDownloadSize(engine.m_nDownloadSize),
          m_szSetupPath(engine.m_szSetupPath),
          m_szUnInstallPath(engine.m_szUnInstallPath),
          m_szInstallRoot(engine.m_szInstallRoot),
          m_nProgress(engine.m_nProgress),
          m_szTempPath(engine.m_szTempPath),
          m_bConfirmClose(engine.m_bConfirmClose),
          m_setPackageGroups(engine.m_setPackageGroups),
          m_vecPackages(engine.m_vecPackages),
          m_dwRunTimeout(engine.m_dwRunTimeout),
          m_strBaseUrl(engine.m_strBaseUrl)
    {
    }

    uint8_t*& m_pDownloadBuffer;
    int32_t& m_nDownloadCapacity;
    int32_t& m_nDownloadSize;
    wchar_t (&m_szSetupPath)[MAX_PATH];
    wchar_t (&m_szUnInstallPath)[MAX_PATH];
    wchar_t (&m_szInstallRoot)[MAX_PATH];
    std::atomic<int>& m_nProgress;
    wchar_t (&m_szTempPath)[MAX_PATH];
    std::atomic<int>& m_bConfirmClose;
    std::set<int>& m_setPackageGroups;
    std::vector<PackageEntry>& m_vecPackages;
    DWORD& m_dwRunTimeout;
    std::wstring& m_strBaseUrl;
};

inline CSetupEngineProbe Probe(CSetupEngine& engine)
{
    return CSetupEngineProbe(engine);
}
