#pragma once

#include <windows.h>

// Removes a folder with everything below it, depth first. A junction or
// symbolic link inside it is removed as a link, never followed: what it
// points to is not touched. A link the system will not show as one is left
// in place. Failures below are skipped (a read-only file stays). TRUE when
// the folder itself was removed.
// A folder that is itself a link is removed the same way, as a link.
BOOL DeleteFolder(const wchar_t* pszFolder);

// Whether the system shows the path as a junction or symbolic link.
bool IsLink(const wchar_t* pszPath);
