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
    IShellLinkW* pLink = nullptr;
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                  reinterpret_cast<void**>(&pLink))))
        return out;
    ScopedComPtr<IShellLinkW> link(pLink);
    IPersistFile* pFile = nullptr;
    if (FAILED(link.Get()->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&pFile))))
        return out;
    ScopedComPtr<IPersistFile> file(pFile);
    if (FAILED(file.Get()->Load(strFile.c_str(), STGM_READ)))
        return out;
    out.bLoaded = true;
    wchar_t sz[1024] = {};
    link.Get()->GetPath(sz, 1024, nullptr, SLGP_RAWPATH);
    out.strTarget = sz;
    sz[0] = 0;
    link.Get()->GetArguments(sz, 1024);
    out.strArguments = sz;
    sz[0] = 0;
    link.Get()->GetWorkingDirectory(sz, 1024);
    out.strWorkDir = sz;
    sz[0] = 0;
    link.Get()->GetIconLocation(sz, 1024, &out.nIconIndex);
    out.strIcon = sz;
    sz[0] = 0;
    link.Get()->GetDescription(sz, 1024);
    out.strDescription = sz;
    return out;
}

// An existing shortcut as another program or an earlier install left it.
inline bool SaveLink(const std::wstring& strFile, const std::wstring& strTarget)
{
    CComInit com;
    IShellLinkW* pLink = nullptr;
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                  reinterpret_cast<void**>(&pLink))))
        return false;
    ScopedComPtr<IShellLinkW> link(pLink);
    link.Get()->SetPath(strTarget.c_str());
    IPersistFile* pFile = nullptr;
    if (FAILED(link.Get()->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&pFile))))
        return false;
    ScopedComPtr<IPersistFile> file(pFile);
    return SUCCEEDED(file.Get()->Save(strFile.c_str(), TRUE));
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

