#pragma once

// Where an entry's name may lead: plain string work, no Windows calls, so
// that the build machine's fuzz targets compile it too.

// Drops drive prefixes, leading separators and everything up to a
// "\..\"-style step, until none is left. Works in place.
void CleanItemName(wchar_t* pszName);

enum class ItemPathKind { Relative, Absolute, Refused };

// How a target name may be used. Absolute: a rooted path ("\x", "/x",
// "C:\x", "C:/x"). Refused: empty, drive-relative ("C:x"), or with a
// component ItemNameRule.h refuses: one that climbs ("..", or dots and
// blanks only), names a stream (any further ":") or a device ("CON",
// "nul.txt", "COM1").
ItemPathKind ClassifyItemPath(const wchar_t* pszPath);

inline bool IsPathSeparator(wchar_t ch)
{
    return ch == L'/' || ch == L'\\';
}
