#pragma once

#include <set>
#include <string>

// Folders known to be there, by the path they were asked for with.
using FolderSet = std::set<std::wstring>;

// Creates the folder root + path and every folder on the way, parents
// first; with a root, also the last level of the root itself. Anything
// already there under a name, file or folder, is left alone. A joined path
// that does not fit MAX_PATH - 1 units is not created. Results are not
// reported: a missing folder shows when the file cannot be created. With
// pKnown, a folder found or made once is not asked for again.
void EnsureFolderPath(const wchar_t* pszRoot, const wchar_t* pszPath, FolderSet* pKnown = nullptr);
