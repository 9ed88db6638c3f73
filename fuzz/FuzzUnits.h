#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The input as UTF-16 units, little-endian, an odd last byte left out. The
// build machine's wchar_t has 32 bits; each holds the value a Windows
// wchar_t would, so the code under test sees the units it sees there.
inline std::wstring WideUnits(const uint8_t* pData, size_t cb)
{
    std::wstring str;
    for (size_t i = 0; i + 1 < cb; i += 2)
        str += static_cast<wchar_t>(pData[i] | pData[i + 1] << 8);
    return str;
}
