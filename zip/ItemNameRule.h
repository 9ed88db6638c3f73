#pragma once

#include <cstddef>

// The entry-name rule of the zip layer. The publishing tool compiles the
// same header, so that it never publishes a name every installer refuses.
// No Windows headers: a name is UTF-16 units, wchar_t on Windows and
// char16_t on the build machine, where wchar_t has 32 bits.

template <typename Unit>
bool EqualsAsciiIgnoringCase(const Unit* p, size_t cch, const char* pszUpper)
{
    static_assert(sizeof(Unit) >= 2, "UTF-16 units");
    size_t i = 0;
    for (; i < cch && pszUpper[i]; ++i) {
        char32_t ch = p[i];
        if (ch >= U'a' && ch <= U'z')
            ch -= U'a' - U'A';
        if (ch != static_cast<char32_t>(static_cast<unsigned char>(pszUpper[i])))
            return false;
    }
    return i == cch && pszUpper[i] == '\0';
}

// Windows opens these names, with any extension and trailing blanks, as
// devices in every folder. COM and LPT take the digits 1-9 and ¹ ² ³.
template <typename Unit>
bool IsDeviceName(const Unit* pComponent, size_t cch)
{
    size_t cchBase = 0;
    while (cchBase < cch && pComponent[cchBase] != '.')
        ++cchBase;
    while (cchBase > 0 && pComponent[cchBase - 1] == ' ')
        --cchBase;

    static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* pszDevice : kDevices)
        if (EqualsAsciiIgnoringCase(pComponent, cchBase, pszDevice))
            return true;
    // The length first: the prefix is compared only where it is there.
    if (cchBase != 4 ||
        !(EqualsAsciiIgnoringCase(pComponent, 3, "COM") || EqualsAsciiIgnoringCase(pComponent, 3, "LPT")))
        return false;
    const char32_t ch = pComponent[3];
    return (ch >= U'1' && ch <= U'9') || ch == U'\u00B9' || ch == U'\u00B2' || ch == U'\u00B3';
}

// A path component the zip layer will not write: one that names a stream
// (any ":"), climbs or a device. An empty component and "." name the folder
// itself and pass.
template <typename Unit>
bool IsRefusedComponent(const Unit* pComponent, size_t cch)
{
    if (cch == 0 || (cch == 1 && pComponent[0] == '.'))
        return false;
    for (size_t i = 0; i < cch; ++i)
        if (pComponent[i] == ':')
            return true;
    // Windows drops trailing dots and blanks, so ".. " and "..." climb too.
    size_t cchKept = cch;
    while (cchKept > 0 && (pComponent[cchKept - 1] == '.' || pComponent[cchKept - 1] == ' '))
        --cchKept;
    return cchKept == 0 || IsDeviceName(pComponent, cch);
}
