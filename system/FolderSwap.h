#pragma once

#include "framework/Result.h"

#include <windows.h>

#include <cstddef>
#include <functional>
#include <string>

// The install folder's siblings: the folder a run stages the new
// installation in, and the one it moves the earlier installation aside to.
// Both are "<install folder>.<8 hex digits>" in the install folder's
// parent, so that each step of the swap is a rename on one volume.

// nBytes from the system's generator as lowercase hex; empty when the
// generator fails.
std::wstring RandomHex(size_t nBytes);

// "<folder>.<8 random hex digits>"; empty when the generator fails or the
// path would not fit MAX_PATH.
std::wstring RandomSibling(const wchar_t* pszFolder);
// Whether a name in the folder's parent is such a sibling of the folder
// named pszFolderName (case aside).
bool IsSiblingName(const std::wstring& strName, const wchar_t* pszFolderName);

// Renames a folder to a name that must not exist: nothing is ever merged
// into or replaced. A link in the folder's place is renamed as a link where
// the system opens it as one (Windows), and refused where an open follows
// it (a Unix symlink under Wine): what it leads to is never moved.
Result RenameFolder(const wchar_t* pszFrom, const wchar_t* pszTo);

// Removes the folder with the link-safe wipe (DeleteFolder); what it
// cannot remove now is left to the system's next start
// (MOVEFILE_DELAY_UNTIL_REBOOT), and to the next run. The number of
// entries so left, the folder included; 0 when it went at once.
size_t RemoveFolderNowOrLater(const wchar_t* pszFolder);

// Removes the siblings of the folder that earlier runs left (a staging
// folder of a run that ended, an earlier installation moved aside) and an
// administrator made: owned by the Administrators, SYSTEM or this
// process's user. Each is reported with the entries left of it.
void RemoveLeftoverSiblings(const wchar_t* pszFolder,
                            const std::function<void(const std::wstring& strPath, size_t nLeft)>& report);
