#pragma once

#include <windows.h>

// The client's files in the install folder and the names it is shown under.
constexpr wchar_t kClientProgramName[] = L"iKVLRemote.exe";
constexpr wchar_t kUninstallerName[] = L"UnInstall.exe";
constexpr wchar_t kClientIconName[] = L"favicon.ico";
constexpr wchar_t kDisplayName[] = L"Fenmora";

// Each composes a path in the install folder (no trailing separator) and
// returns false when it would not fit MAX_PATH.

// "<folder>\iKVLRemote.exe": the program that is registered, checked for
// and started.
bool ComposeClientProgramPath(const wchar_t* pszSetupPath, wchar_t (&szPath)[MAX_PATH]);
// "<folder>/iKVLRemote.exe" and "<folder>/favicon.ico": the shortcuts'
// target and icon, joined with a forward slash.
bool ComposeClientLinkTarget(const wchar_t* pszSetupPath, wchar_t (&szPath)[MAX_PATH]);
bool ComposeClientIconPath(const wchar_t* pszSetupPath, wchar_t (&szPath)[MAX_PATH]);
// "<folder>\UnInstall.exe": where the uninstaller is written, and what the
// registration and the uninstall shortcut point to. All three must use this
// one composition so that they agree for every install folder.
bool ComposeUninstallerPath(const wchar_t* pszSetupPath, wchar_t (&szPath)[MAX_PATH]);
