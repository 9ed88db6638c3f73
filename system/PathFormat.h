#pragma once

#include <cstddef>
#include <cwchar>

// Formats into a fixed array; false, with the array's content undefined,
// when the text would not fit.
template <size_t N, typename... Args>
bool FormatPath(wchar_t (&szOut)[N], const wchar_t* pszFormat, Args... args)
{
    int n = std::swprintf(szOut, N, pszFormat, args...);
    return n >= 0 && static_cast<size_t>(n) < N;
}
