#include "engine/SetupEngine.h"

#include "system/ClientSettings.h"
#include "system/Shortcuts.h"
#include "system/UninstallRegistration.h"

LONG CSetupEngine::WriteRegistry()
{
    return WriteUninstallRegistration(m_szSetupPath, m_szUnInstallPath);
}

bool CSetupEngine::SetStartShellLink()
{
    return CreateStartMenuShellLinks(m_szSetupPath);
}

void CSetupEngine::WriteClientConfig(int32_t nVersion)
{
    WriteClientSettings(m_szSetupPath, nVersion);
}
