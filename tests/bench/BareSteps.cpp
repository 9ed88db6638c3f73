// The bare steps of an install: the simplest programs that do the
// installer's work, run by tools/bench-install.sh under the same Wine as the
// installer. Each prints the seconds of its own work; nothing is judged.
//   bare_steps download BASE_URL FOLDER NAME...  GET each name with 5120-byte
//                                                 reads, save it in FOLDER
//   bare_steps extract FOLDER ARCHIVE...          unpack every entry below
//                                                 FOLDER with its time
//   bare_steps crc FOLDER LIST                    CRC-32 of each file that
//                                                 LIST (filecrc.txt) names
#include "framework/ScopedHandle.h"

#include <windows.h>
#include <wininet.h>

#include <unzip.h>

#include <iowin32.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr DWORD kReadChunk = 5120;
constexpr unsigned kUnzipBlock = 65536;

struct Stopwatch {
    LARGE_INTEGER start;
    Stopwatch() { ::QueryPerformanceCounter(&start); }
    double Seconds() const
    {
        LARGE_INTEGER now, freq;
        ::QueryPerformanceCounter(&now);
        ::QueryPerformanceFrequency(&freq);
        return static_cast<double>(now.QuadPart - start.QuadPart) / static_cast<double>(freq.QuadPart);
    }
};

bool WriteWholeFile(const std::wstring& strPath, const std::vector<uint8_t>& data)
{
    ScopedFile file(
        ::CreateFileW(strPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD cbWritten = 0;
    return file &&
           (data.empty() ||
            ::WriteFile(file.Get(), data.data(), static_cast<DWORD>(data.size()), &cbWritten, nullptr)) &&
           cbWritten == data.size();
}

int Download(const wchar_t* pszBase, const wchar_t* pszFolder, wchar_t** ppszNames, int nNames)
{
    Stopwatch watch;
    HINTERNET hNet = ::InternetOpenW(nullptr, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (!hNet)
        return 1;
    std::vector<uint8_t> body;
    uint8_t chunk[kReadChunk];
    double dBytes = 0;
    for (int i = 0; i < nNames; ++i) {
        const std::wstring strUrl = std::wstring(pszBase) + ppszNames[i];
        HINTERNET hUrl = ::InternetOpenUrlW(hNet, strUrl.c_str(), nullptr, 0,
                                            INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0);
        DWORD dwStatus = 0;
        DWORD cbStatus = sizeof(dwStatus);
        if (!hUrl ||
            !::HttpQueryInfoW(hUrl, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &dwStatus, &cbStatus, nullptr) ||
            dwStatus != 200) {
            std::fwprintf(stderr, L"cannot fetch %ls\n", strUrl.c_str());
            return 1;
        }
        body.clear();
        DWORD cbRead = 0;
        while (::InternetReadFile(hUrl, chunk, kReadChunk, &cbRead) && cbRead > 0)
            body.insert(body.end(), chunk, chunk + cbRead);
        ::InternetCloseHandle(hUrl);
        if (!WriteWholeFile(std::wstring(pszFolder) + L"\\" + ppszNames[i], body))
            return 1;
        dBytes += static_cast<double>(body.size());
    }
    ::InternetCloseHandle(hNet);
    std::wprintf(L"download %d files, %.1f MiB: %.3f s\n", nNames, dBytes / 1048576.0, watch.Seconds());
    return 0;
}

FILETIME DosTimeToFileTime(uLong dosDate)
{
    FILETIME local = {}, utc = {};
    ::DosDateTimeToFileTime(static_cast<WORD>(dosDate >> 16), static_cast<WORD>(dosDate), &local);
    ::LocalFileTimeToFileTime(&local, &utc);
    return utc;
}

// The last-write time of an "UT" extra record, when the entry has one.
bool ExtraModifiedTime(const uint8_t* pExtra, uLong cbExtra, FILETIME* pft)
{
    for (uLong i = 0; i + 4 <= cbExtra;) {
        const unsigned nId = pExtra[i] | (pExtra[i + 1] << 8);
        const unsigned cbData = pExtra[i + 2] | (pExtra[i + 3] << 8);
        if (nId == 0x5455 && cbData >= 5 && i + 4 + cbData <= cbExtra && (pExtra[i + 4] & 1)) {
            const uint8_t* p = pExtra + i + 5;
            const int32_t nUnix = static_cast<int32_t>(p[0] | (p[1] << 8) | (p[2] << 16) | (p[3] << 24));
            const ULONGLONG n = (static_cast<ULONGLONG>(static_cast<LONGLONG>(nUnix)) + 11644473600ULL) * 10000000ULL;
            pft->dwLowDateTime = static_cast<DWORD>(n);
            pft->dwHighDateTime = static_cast<DWORD>(n >> 32);
            return true;
        }
        i += 4 + cbData;
    }
    return false;
}

// Makes each folder of the path below the root once per run.
void MakeParents(const std::wstring& strRoot, const std::wstring& strName, std::set<std::wstring>* pMade)
{
    for (size_t i = strName.find(L'\\'); i != std::wstring::npos; i = strName.find(L'\\', i + 1)) {
        std::wstring strFolder = strRoot + strName.substr(0, i);
        if (pMade->insert(strFolder).second)
            ::CreateDirectoryW(strFolder.c_str(), nullptr);
    }
}

bool ExtractArchive(const wchar_t* pszArchive, const std::wstring& strRoot, std::set<std::wstring>* pMade,
                    std::vector<uint8_t>* pBlock, int* pnFiles)
{
    zlib_filefunc64_def funcs;
    fill_win32_filefunc64W(&funcs);
    unzFile zf = unzOpen2_64(pszArchive, &funcs);
    if (!zf)
        return false;
    bool bOk = true;
    for (int r = unzGoToFirstFile(zf); bOk && r == UNZ_OK; r = unzGoToNextFile(zf)) {
        unz_file_info64 info;
        char szName[1024];
        uint8_t extra[256];
        bOk = unzGetCurrentFileInfo64(zf, &info, szName, sizeof(szName), extra, sizeof(extra), nullptr, 0) == UNZ_OK;
        wchar_t szWide[MAX_PATH] = {};
        if (!bOk || !::MultiByteToWideChar((info.flag & 0x800) ? CP_UTF8 : CP_ACP, 0, szName, -1, szWide, MAX_PATH))
            return false;
        std::wstring strName = szWide;
        for (wchar_t& ch : strName)
            if (ch == L'/')
                ch = L'\\';
        if (!strName.empty() && strName.back() == L'\\') {
            MakeParents(strRoot, strName, pMade);
            continue;
        }
        MakeParents(strRoot, strName, pMade);
        const std::wstring strPath = strRoot + strName;
        ScopedFile file(
            ::CreateFileW(strPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        bOk = file && unzOpenCurrentFile(zf) == UNZ_OK;
        for (int cb; bOk && (cb = unzReadCurrentFile(zf, pBlock->data(), kUnzipBlock)) != 0;) {
            DWORD cbWritten = 0;
            bOk = cb > 0 && ::WriteFile(file.Get(), pBlock->data(), static_cast<DWORD>(cb), &cbWritten, nullptr);
        }
        bOk = unzCloseCurrentFile(zf) == UNZ_OK && bOk;
        FILETIME ft = DosTimeToFileTime(info.dosDate);
        FILETIME ftWrite = ft;
        ExtraModifiedTime(extra, info.size_file_extra < sizeof(extra) ? info.size_file_extra : 0, &ftWrite);
        bOk = bOk && ::SetFileTime(file.Get(), &ft, &ft, &ftWrite);
        ++*pnFiles;
    }
    unzClose(zf);
    return bOk;
}

int Extract(const wchar_t* pszFolder, wchar_t** ppszArchives, int nArchives)
{
    Stopwatch watch;
    const std::wstring strRoot = std::wstring(pszFolder) + L"\\";
    ::CreateDirectoryW(pszFolder, nullptr);
    std::set<std::wstring> made;
    std::vector<uint8_t> block(kUnzipBlock);
    int nFiles = 0;
    for (int i = 0; i < nArchives; ++i) {
        if (!ExtractArchive(ppszArchives[i], strRoot, &made, &block, &nFiles)) {
            std::fwprintf(stderr, L"cannot unpack %ls\n", ppszArchives[i]);
            return 1;
        }
    }
    std::wprintf(L"extract %d archives, %d files, %zu folders: %.3f s\n", nArchives, nFiles, made.size(),
                 watch.Seconds());
    return 0;
}

// Name and CRC of each "name;crc" line of a UTF-16 list with its mark.
std::vector<std::pair<std::wstring, uint32_t>> ReadCrcList(const wchar_t* pszList)
{
    std::vector<std::pair<std::wstring, uint32_t>> entries;
    ScopedFile file(::CreateFileW(pszList, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER size = {};
    if (!file || !::GetFileSizeEx(file.Get(), &size) || size.QuadPart < 2)
        return entries;
    std::wstring strText(static_cast<size_t>(size.QuadPart) / 2, L'\0');
    DWORD cbRead = 0;
    ::ReadFile(file.Get(), &strText[0], static_cast<DWORD>(strText.size() * 2), &cbRead, nullptr);
    size_t nStart = 1;
    while (nStart < strText.size()) {
        size_t nEnd = strText.find(L'\n', nStart);
        if (nEnd == std::wstring::npos)
            nEnd = strText.size();
        const std::wstring strLine = strText.substr(nStart, nEnd - nStart);
        const size_t nSemicolon = strLine.find(L';');
        if (nSemicolon != std::wstring::npos)
            entries.emplace_back(strLine.substr(0, nSemicolon),
                                 static_cast<uint32_t>(std::wcstoul(strLine.c_str() + nSemicolon + 1, nullptr, 10)));
        nStart = nEnd + 1;
    }
    return entries;
}

int Crc(const wchar_t* pszFolder, const wchar_t* pszList)
{
    const auto entries = ReadCrcList(pszList);
    Stopwatch watch;
    std::vector<uint8_t> buffer;
    int nBad = 0;
    double dBytes = 0;
    for (const auto& entry : entries) {
        const std::wstring strPath = std::wstring(pszFolder) + L"\\" + entry.first;
        ScopedFile file(
            ::CreateFileW(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        LARGE_INTEGER size = {};
        DWORD cbRead = 0;
        if (file && ::GetFileSizeEx(file.Get(), &size) && size.QuadPart > 0) {
            if (buffer.size() < static_cast<size_t>(size.QuadPart))
                buffer.resize(static_cast<size_t>(size.QuadPart));
            ::ReadFile(file.Get(), buffer.data(), static_cast<DWORD>(size.QuadPart), &cbRead, nullptr);
        }
        dBytes += cbRead;
        if (cbRead == 0 || crc32(0, buffer.data(), cbRead) != entry.second)
            ++nBad;
    }
    std::wprintf(L"crc %zu files, %.1f MiB, %d not matching: %.3f s\n", entries.size(), dBytes / 1048576.0, nBad,
                 watch.Seconds());
    return entries.empty() || nBad ? 1 : 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc >= 5 && std::wcscmp(argv[1], L"download") == 0)
        return Download(argv[2], argv[3], argv + 4, argc - 4);
    if (argc >= 4 && std::wcscmp(argv[1], L"extract") == 0)
        return Extract(argv[2], argv + 3, argc - 3);
    if (argc == 4 && std::wcscmp(argv[1], L"crc") == 0)
        return Crc(argv[2], argv[3]);
    std::fwprintf(stderr, L"usage: bare_steps download BASE_URL FOLDER NAME... | extract FOLDER ARCHIVE... | "
                          L"crc FOLDER LIST\n");
    return 2;
}
