#pragma once

#include "framework/Result.h"
#include "framework/ScopedHandle.h"

#include <windows.h>

#include <string>

// The folders the installer makes hold what an administrator runs later,
// so no other user may change them: full control for SYSTEM and
// Administrators, read and execute for Users, nothing inherited from the
// folder above (a new folder under a drive root lets every user change it).
// The DACL is given in the create call itself; a folder found under the
// name is never taken over or re-permissioned.

// Creates a new folder with that DACL in the create call itself; fails
// when the name exists, so that no folder found there is ever taken over.
Result CreateProtectedFolder(const wchar_t* pszFolder);

// Fails unless the path is a folder itself: not a link, nor a name that
// an open follows elsewhere (a Unix symlink under Wine).
Result CheckPlainFolder(const wchar_t* pszFolder);

// Walks a chosen folder (normalized: a drive or share root, then plain
// components) from its root, each folder opened relative to the one
// checked before it: a link or junction anywhere on the way, and the
// Windows folder or one below it, fail before anything is made there. With
// bCreate a missing folder is made with the DACL above in the create call;
// without, it fails.
Result WalkChosenFolder(const std::wstring& strFolder, bool bCreate);

// A folder of the process's own below a folder others may share: made new
// under a random name with that DACL, held open without delete sharing so
// that nobody renames or replaces it, and removed with what is left in it
// when the object goes.
class CPrivateFolder {
public:
    CPrivateFolder() = default;
    ~CPrivateFolder();
    CPrivateFolder(const CPrivateFolder&) = delete;
    CPrivateFolder& operator=(const CPrivateFolder&) = delete;

    // "<parent>\<prefix>.<32 hex digits>".
    Result Create(const wchar_t* pszParent, const wchar_t* pszPrefix);
    bool IsMade() const { return static_cast<bool>(m_folder); }
    const std::wstring& Path() const { return m_strPath; }

private:
    std::wstring m_strPath;
    ScopedFile m_folder;
};
