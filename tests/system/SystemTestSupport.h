#pragma once

#include "framework/StringCompare.h"
#include "log/Log.h"
#include "system/ScopedCom.h"
#include "system/Shortcuts.h"
#include "tests/support/LogCapture.h"
#include "tests/support/RegOverride.h"
#include "tests/support/TempDir.h"

#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cwchar>
#include <string>
#include <vector>

// Shortcut files read and written through the shell-link object.
struct LinkContents {
    bool bLoaded = false;
    std::wstring strTarget;
    std::wstring strArguments;
    std::wstring strWorkDir;
    std::wstring strIcon;
    int nIconIndex = -1;
    std::wstring strDescription;
};

inline LinkContents ReadLink(const std::wstring& strFile)
{
    CComInit com;
    LinkContents out;
    ScopedComPtr<IShellLinkW> link;
    ScopedComPtr<IPersistFile> file;
    if (!link.Create(CLSID_ShellLink) || !link.QueryInterface(&file) || FAILED(file->Load(strFile.c_str(), STGM_READ)))
        return out;
    out.bLoaded = true;
    wchar_t sz[1024] = {};
    link->GetPath(sz, 1024, nullptr, SLGP_RAWPATH);
    out.strTarget = sz;
    sz[0] = 0;
    link->GetArguments(sz, 1024);
    out.strArguments = sz;
    sz[0] = 0;
    link->GetWorkingDirectory(sz, 1024);
    out.strWorkDir = sz;
    sz[0] = 0;
    link->GetIconLocation(sz, 1024, &out.nIconIndex);
    out.strIcon = sz;
    sz[0] = 0;
    link->GetDescription(sz, 1024);
    out.strDescription = sz;
    return out;
}

// An existing shortcut as another program or an earlier install left it.
inline bool SaveLink(const std::wstring& strFile, const std::wstring& strTarget)
{
    CComInit com;
    ScopedComPtr<IShellLinkW> link;
    ScopedComPtr<IPersistFile> file;
    if (!link.Create(CLSID_ShellLink) || !link.QueryInterface(&file))
        return false;
    link->SetPath(strTarget.c_str());
    return SUCCEEDED(file->Save(strFile.c_str(), TRUE));
}

inline std::wstring Normalized(std::wstring str)
{
    str.push_back(L'\0');
    NormalizePath(&str[0], str.size(), false);
    return str.c_str();
}

inline bool SameTarget(const std::wstring& strA, const std::wstring& strB)
{
    return EqualIgnoringCase(Normalized(strA).c_str(), Normalized(strB).c_str());
}

