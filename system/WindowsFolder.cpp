#include "system/CommandLineArgs.h"

#include "framework/StringCompare.h"

// Apart from the command line's rules, which the fuzz targets build without
// Windows: the comparison is the system's.
bool IsInWindowsFolder(const std::wstring& strFolder, const std::wstring& strWindowsFolder)
{
    std::wstring strBase = strWindowsFolder;
    while (!strBase.empty() && strBase.back() == L'\\')
        strBase.pop_back();
    if (strBase.empty() || strFolder.size() < strBase.size() ||
        !EqualIgnoringCase(strFolder.c_str(), strBase.c_str(), strBase.size()))
        return false;
    return strFolder.size() == strBase.size() || strFolder[strBase.size()] == L'\\';
}
