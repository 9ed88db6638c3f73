#pragma once

#include <windows.h>

// Removes a folder with everything below it, depth first, walking each
// folder through a handle checked not to be a link. A junction or symbolic
// link inside it is removed as a link, never followed: what it points to
// is not touched. A folder link the system cannot remove as a link stays.
// Read-only files go too; other failures below are skipped. TRUE when the
// folder itself was removed.
// A folder that is itself a link is removed the same way, as a link.
BOOL DeleteFolder(const wchar_t* pszFolder);

// Whether the system shows the path as a junction or symbolic link.
bool IsLink(const wchar_t* pszPath);
