#include "engine/FileVerify.h"
#include "engine/PackageList.h"

#include "zip/ItemNameRule.h"

#include <algorithm>
#include <cstdint>
#include <cwchar>

// The server's list files, from the downloaded bytes to the package and
// CRC-list entries. No Windows calls: the build machine's fuzz targets
// compile this file as it is.

int SplitString(const std::wstring& strText, wchar_t chSeparator, std::vector<std::wstring>* pvecPieces)
{
    pvecPieces->clear();
    if (strText.empty() || strText[0] == chSeparator)
        return 0;
    size_t nStart = 0;
    for (;;) {
        size_t nEnd = strText.find(chSeparator, nStart);
        if (nEnd == std::wstring::npos)
            nEnd = strText.size();
        if (nEnd > nStart)
            pvecPieces->push_back(strText.substr(nStart, nEnd - nStart));
        if (nEnd == strText.size())
            break;
        nStart = nEnd + 1;
    }
    return static_cast<int>(pvecPieces->size());
}

std::wstring ServerListText(const uint8_t* pData, int32_t nSize)
{
    std::wstring strText;
    strText.reserve(nSize > 2 ? static_cast<size_t>(nSize - 2) / 2 : 0);
    for (int32_t i = 2; i + 1 < nSize; i += 2) {
        wchar_t ch = static_cast<wchar_t>(pData[i] | (pData[i + 1] << 8));
        if (ch == L'\0')
            break;
        strText += ch;
    }
    return strText;
}

void ForEachServerListLine(const std::wstring& strText,
                           const std::function<void(const std::vector<std::wstring>& fields)>& use)
{
    // The lines are the pieces SplitString would give at CR, taken one by
    // one: a text that starts with CR has none.
    if (strText.empty() || strText[0] == L'\r')
        return;
    std::vector<std::wstring> fields;
    for (size_t nStart = 0; nStart < strText.size();) {
        const size_t nEnd = std::min(strText.find(L'\r', nStart), strText.size());
        const size_t nFirst = std::min(strText.find_first_not_of(L"\r\n", nStart), nEnd);
        size_t nLast = nEnd;
        while (nLast > nFirst && strText[nLast - 1] == L'\n')
            --nLast;
        if (nLast > nFirst) {
            SplitString(strText.substr(nFirst, nLast - nFirst), L';', &fields);
            use(fields);
        }
        nStart = nEnd + 1;
    }
}

// The C library's reading saturates at the range of long: 32 bits on
// Windows, where the clamps change nothing, and 64 on the build machine's
// fuzz targets, where a negative unsigned value saturates too.
int32_t ReadListInt(const std::wstring& strField)
{
    const long n = std::wcstol(strField.c_str(), nullptr, 10);
    return static_cast<int32_t>(std::clamp<long>(n, INT32_MIN, INT32_MAX));
}

uint32_t ReadListUnsigned(const std::wstring& strField)
{
    const unsigned long n = std::wcstoul(strField.c_str(), nullptr, 10);
    return static_cast<uint32_t>(std::min<unsigned long>(n, UINT32_MAX));
}

bool IsPlainFileName(const std::wstring& strName)
{
    return !strName.empty() && strName.back() != L'.' &&
           std::all_of(strName.begin(), strName.end(), IsPackageNameUnit) &&
           !IsDeviceName(strName.c_str(), strName.size());
}

int ParsePackageList(const std::wstring& strText, std::vector<PackageEntry>* pvecPackages)
{
    pvecPackages->clear();
    ForEachServerListLine(strText, [&](const std::vector<std::wstring>& fields) {
        // A longer name would be cut into the name of another file. A name
        // that is no plain file name would ask the server for another
        // resource, or be written as a path.
        if (fields.size() != 3 || fields[0].size() >= kPackageNameUnits || !IsPlainFileName(fields[0]))
            return;
        PackageEntry entry = {};
        std::wmemcpy(entry.szName, fields[0].c_str(), fields[0].size());
        entry.nParam = ReadListInt(fields[1]);
        entry.nGroup = ReadListInt(fields[2]);
        pvecPackages->push_back(entry);
    });
    return static_cast<int>(pvecPackages->size());
}

std::vector<CrcListEntry> ParseCrcList(const std::wstring& strText)
{
    std::vector<CrcListEntry> entries;
    ForEachServerListLine(strText, [&](const std::vector<std::wstring>& fields) {
        if (fields.size() != 2 || fields[0].empty())
            return;
        const uint32_t nCrc = ReadListUnsigned(fields[1]);
        if (nCrc != 0)
            entries.push_back({fields[0], nCrc});
    });
    return entries;
}

bool IsNameInsideFolder(const std::wstring& strName)
{
    if (strName.empty() || strName[0] == L'\\' || strName[0] == L'/')
        return false;
    size_t nStart = 0;
    for (;;) {
        const size_t nEnd = std::min(strName.find_first_of(L"\\/", nStart), strName.size());
        if (IsRefusedComponent(strName.c_str() + nStart, nEnd - nStart))
            return false;
        if (nEnd == strName.size())
            return true;
        nStart = nEnd + 1;
    }
}
