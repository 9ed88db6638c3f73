#pragma once

#include "framework/Result.h"

#include <windows.h>

// The install folder and the temp folder hold what an administrator runs
// later, so no other user may change them: full control for SYSTEM and
// Administrators, read and execute for Users, nothing inherited from the
// folder above (a new folder under a drive root lets every user change it).
//
// Creates the folder with that DACL, or sets it on the folder found there,
// taking ownership for the Administrators when the owner's DACL keeps this
// process out. A link in the folder's place is removed as a link and the
// folder made; one the system cannot remove as a link (a Unix symlink
// under Wine) is refused. Nothing is ever done through a link.
// Fails with the step that failed, for the log.
Result SecureFolder(const wchar_t* pszFolder);

// Creates a new folder with that DACL in the create call itself; fails
// when the name exists, so that no folder found there is ever taken over.
Result CreateProtectedFolder(const wchar_t* pszFolder);
