#pragma once

// Where an entry's name may lead: plain string work, no Windows calls, so
// that the build machine's fuzz targets compile it too.

#include <string>
#include <vector>

// Drops drive prefixes, leading separators and everything up to a
// "\..\"-style step, until none is left, then a last "." component (the
// name of the folder it is in). Works in place.
void CleanItemName(wchar_t* pszName);

enum class ItemPathKind { Relative, Absolute, Refused };

// How a target name may be used. Absolute: a rooted path ("\x", "/x",
// "C:\x", "C:/x"). Refused: empty, drive-relative ("C:x"), or with a
// component ItemNameRule.h refuses: one that climbs ("..", or dots and
// blanks only), names a stream (any further ":") or a device ("CON",
// "nul.txt", "COM1").
ItemPathKind ClassifyItemPath(const wchar_t* pszPath);

// True when the names, as targets below one folder, can be written in any
// order with the same result: each is relative, no two can name the same
// file, and no file takes the name of another's folder. Undecided cases
// count as shared: letters that may have case other than ASCII's, short
// "~" names, names Windows would trim.
bool AreSeparateTargets(const std::vector<std::wstring>& names);

inline bool IsPathSeparator(wchar_t ch)
{
    return ch == L'/' || ch == L'\\';
}
