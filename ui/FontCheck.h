#pragma once

// Whether the face "微软雅黑" is installed, by both font systems; it
// decides the package group of this machine.
bool IsFontInstalled();
// Whether GDI enumerates the face, compared ignoring case.
bool FindFontByGdi(const wchar_t* pszFaceName);
// Whether the installed GDI+ families hold the name, compared exactly.
bool FindFontByGdiplus(const wchar_t* pszFaceName);
