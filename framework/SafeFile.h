#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// Files in folders that another local user may change. A name there may be
// a link (a symbolic link, a junction, or under Wine a Unix symlink the
// system does not even show as one) or a second name of someone else's
// file. Nothing here writes, truncates or deletes through such a name.

// Creates a new file at the path, whatever holds the name now: the file is
// made under a scratch name beside it with a create that fails if that
// name exists, then renamed over the path. A link or a hard-linked name
// there loses the name and is never opened. The handle has DELETE access
// besides dwAccess. INVALID_HANDLE_VALUE, with the system's error, when it
// cannot be done.
HANDLE CreateFreshFile(const wchar_t* pszPath, DWORD dwAccess, DWORD dwShare);

// For a handle made by CreateFreshFile that must not hold DELETE access
// (readers that do not share delete could not open the file): opens the
// same file again by its path, with the access and sharing given, and
// closes h. Checked by the file's id: a name swapped meanwhile fails.
HANDLE ReopenFreshFile(HANDLE h, const wchar_t* pszPath, DWORD dwAccess, DWORD dwShare);

// Removes a file's name without following it: a fresh empty file takes the
// name and is deleted. False when the name stays (a folder, a file in use).
bool RemoveFileName(const wchar_t* pszPath);

// Deletes the file or empty folder open on h (with DELETE access) when its
// last handle closes.
bool DeleteOnClose(HANDLE h);

// The path the system resolves the handle to ("\\?\C:\..."); empty when
// it cannot tell.
std::wstring FinalPathOf(HANDLE h);

// Whether the handle, opened on the entry itself, is the object named
// pszName in the folder whose final path is given, and not a link: no
// reparse point, and it resolves to that folder and name (under Wine an
// open follows a Unix symlink elsewhere). A folder or file whose final
// path the system cannot name is judged by the reparse point alone.
bool IsPlainEntry(HANDLE h, const std::wstring& strFolderFinal, const wchar_t* pszName);

// The same for a path, its folder resolved as it is.
bool IsPlainEntryAt(HANDLE h, const wchar_t* pszPath);

// Reads up to cb bytes at the offset; *pcbRead is 0 at the end of the
// file. Threads that share a synchronous handle may call it at once: the
// file pointer is set and read under one lock. (A read that carries its
// offset in an OVERLAPPED also reports its completion, under Wine a trip
// to the server for every block.)
bool ReadFileAt(HANDLE h, uint64_t nPos, void* pBuffer, DWORD cb, DWORD* pcbRead);
