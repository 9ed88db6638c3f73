#include "system/ClientFiles.h"

#include "system/PathFormat.h"

bool ComposeClientProgramPath(const wchar_t* pszSetupPath, wchar_t (&szPath)[MAX_PATH])
{
    return FormatPath(szPath, L"%ls\\%ls", pszSetupPath, kClientProgramName);
}

bool ComposeClientLinkTarget(const wchar_t* pszSetupPath, wchar_t (&szPath)[MAX_PATH])
{
    return FormatPath(szPath, L"%ls/%ls", pszSetupPath, kClientProgramName);
}

bool ComposeClientIconPath(const wchar_t* pszSetupPath, wchar_t (&szPath)[MAX_PATH])
{
    return FormatPath(szPath, L"%ls/%ls", pszSetupPath, kClientIconName);
}

bool ComposeUninstallerPath(const wchar_t* pszSetupPath, wchar_t (&szPath)[MAX_PATH])
{
    return FormatPath(szPath, L"%ls\\%ls", pszSetupPath, kUninstallerName);
}
