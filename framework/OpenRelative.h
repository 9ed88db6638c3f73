#pragma once

#include <windows.h>

#include <string>

// Opens (or, with FILE_OPEN_IF or FILE_CREATE, makes) the entry of that name
// in the folder open on hFolder, relative to that handle: a folder swapped
// for a link since the handle was checked is never reached. nOptions are
// NtCreateFile's (FILE_OPEN_REPARSE_POINT opens a link as itself where the
// system can); pDescriptor, when given, is a new entry's. Sets the last
// error and gives INVALID_HANDLE_VALUE when it fails.
HANDLE OpenRelative(HANDLE hFolder, const std::wstring& strName, ACCESS_MASK access, ULONG nShare, ULONG nDisposition,
                    ULONG nOptions, PSECURITY_DESCRIPTOR pDescriptor = nullptr);
