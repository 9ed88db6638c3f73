#pragma once

#include "zip/ItemPath.h"

#include <windows.h>

#include <cstddef>
#include <cstdint>

// The longest stored name that can still fit MAX_PATH - 1 UTF-16 units:
// no code page gives fewer than one unit per three bytes.
constexpr size_t kMaxStoredNameBytes = 3 * (MAX_PATH - 1);

// Converts a stored entry name to UTF-16: UTF-8 when the entry's UTF-8 flag
// (general-purpose bit 11) is set, else the given ANSI code page. The name
// ends at its first zero byte. False when it does not fit MAX_PATH units.
bool ConvertItemName(const char* pName, size_t cbName, bool bUtf8, UINT nAnsiCodePage, wchar_t* pszOut);

// A name that cleans to nothing can only stand for the target folder
// itself: harmless for an entry that holds nothing, but data under it
// would have no file to go to.
inline bool IsNamelessData(const wchar_t* pszCleanedName, uint64_t cbUncompressed)
{
    return pszCleanedName[0] == L'\0' && cbUncompressed > 0;
}
