#pragma once

#include <windows.h>

#include <cstddef>

// Ordinal and ignoring case, as the file system compares names: no locale,
// no normalisation.
inline bool EqualIgnoringCase(const wchar_t* pszA, const wchar_t* pszB)
{
    return ::CompareStringOrdinal(pszA, -1, pszB, -1, TRUE) == CSTR_EQUAL;
}

// The same on the first cch units of each.
inline bool EqualIgnoringCase(const wchar_t* pA, const wchar_t* pB, size_t cch)
{
    const int n = static_cast<int>(cch);
    return ::CompareStringOrdinal(pA, n, pB, n, TRUE) == CSTR_EQUAL;
}
