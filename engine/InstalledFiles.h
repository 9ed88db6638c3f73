#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

class HeldFiles;
class StopToken;

// The CRC-32 of a file below the folder, read in pieces; 0, logged, when
// the name leaves the folder or the file cannot be opened, is empty, larger
// than 2 GiB or cannot be read whole.
uint32_t GetFileCRC(const wchar_t* pszFolder, const wchar_t* pszRelativeName);

// Checks the files the CRC list text names below the folder, in list
// order, up to the first that fails; logs each. 1 when all match, 0 for an
// empty text, a failed file or a stop (pStop, when given, stopped). The
// files are read by the calling thread and nHelpers threads more; a file
// pHeld holds is read through its handle, which is then closed.
int VerifyInstalledFiles(const wchar_t* pszFolder, const std::wstring& strText, const StopToken* pStop = nullptr,
                         int nHelpers = 1, HeldFiles* pHeld = nullptr);
