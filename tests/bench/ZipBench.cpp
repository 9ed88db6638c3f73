// Figures for the zip layer and the installed-file check, printed, never
// judged: tools/zip-bench.sh runs it beside native tools on the same data.
//   zip_bench extract ARCHIVE FOLDER   unpacks every entry as the installer does
//   zip_bench crc FOLDER NAME          GetFileCRC of FOLDER\NAME, three times
#include "engine/InstalledFiles.h"
#include "zip/Zip.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

double Seconds(const LARGE_INTEGER& start, const LARGE_INTEGER& end)
{
    LARGE_INTEGER freq;
    ::QueryPerformanceFrequency(&freq);
    return static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(freq.QuadPart);
}

int Extract(const wchar_t* pszArchive, const wchar_t* pszFolder)
{
    LARGE_INTEGER start, end;
    ::QueryPerformanceCounter(&start);
    ScopedZip zip(OpenZip(pszArchive, nullptr));
    if (!zip) {
        std::fwprintf(stderr, L"cannot open %ls\n", pszArchive);
        return 1;
    }
    SetZipTargetFolder(zip.Get(), pszFolder);
    ZipItemInfo info = {};
    QueryZipItem(zip.Get(), -1, &info);
    const int nCount = info.nIndex;
    int nFiles = 0;
    double dBytes = 0;
    for (int i = 0; i < nCount; ++i) {
        if (QueryZipItem(zip.Get(), i, &info) != ZIPERR_NONE || info.nCompressedSize == 0 || !info.szName[0])
            continue;
        int nResult = UnzipItem(zip.Get(), i, info.szName);
        if (nResult != ZIPERR_NONE) {
            std::fwprintf(stderr, L"entry %d %ls: 0x%x\n", i, info.szName, nResult);
            return 1;
        }
        ++nFiles;
        dBytes += info.nUncompressedSize;
    }
    zip.Reset();
    ::QueryPerformanceCounter(&end);
    const double dSeconds = Seconds(start, end);
    std::wprintf(L"UnzipItem: %d files, %.1f MiB out in %.3f s = %.1f MiB/s\n", nFiles, dBytes / 1048576.0, dSeconds,
                 dBytes / 1048576.0 / dSeconds);
    return 0;
}

int Crc(const wchar_t* pszFolder, const wchar_t* pszName)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    const std::wstring strPath = std::wstring(pszFolder) + L"\\" + pszName;
    if (!::GetFileAttributesExW(strPath.c_str(), GetFileExInfoStandard, &data))
        return 1;
    const double dMiB = data.nFileSizeLow / 1048576.0;
    for (int nRun = 1; nRun <= 3; ++nRun) {
        LARGE_INTEGER start, end;
        ::QueryPerformanceCounter(&start);
        uint32_t nCrc = GetFileCRC(pszFolder, pszName);
        ::QueryPerformanceCounter(&end);
        const double dSeconds = Seconds(start, end);
        std::wprintf(L"GetFileCRC run %d: crc=%lu, %.1f MiB in %.3f s = %.1f MiB/s\n", nRun,
                     static_cast<unsigned long>(nCrc), dMiB, dSeconds, dMiB / dSeconds);
        if (nCrc == 0)
            return 1;
    }
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc == 4 && std::wcscmp(argv[1], L"extract") == 0)
        return Extract(argv[2], argv[3]);
    if (argc == 4 && std::wcscmp(argv[1], L"crc") == 0)
        return Crc(argv[2], argv[3]);
    std::fwprintf(stderr, L"usage: zip_bench extract ARCHIVE FOLDER | crc FOLDER NAME\n");
    return 2;
}
