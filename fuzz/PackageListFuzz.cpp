#include "engine/PackageList.h"

#include <algorithm>
#include <cstdlib>
#include <cwchar>

// The package list from the downloaded bytes. The entries it takes,
// written back as a list, read as the same entries.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t cb)
{
    const std::wstring strText = ServerListText(pData, static_cast<int32_t>(std::min<size_t>(cb, INT32_MAX)));
    std::vector<PackageEntry> packages;
    ParsePackageList(strText, &packages);

    std::wstring strWritten;
    for (const PackageEntry& entry : packages)
        strWritten += std::wstring(entry.szName) + L";" + std::to_wstring(entry.nParam) + L";" +
                      std::to_wstring(entry.nGroup) + L"\r\n";
    std::vector<PackageEntry> again;
    ParsePackageList(strWritten, &again);
    const auto same = [](const PackageEntry& a, const PackageEntry& b) {
        return std::wcscmp(a.szName, b.szName) == 0 && a.nParam == b.nParam && a.nGroup == b.nGroup;
    };
    if (!std::equal(again.begin(), again.end(), packages.begin(), packages.end(), same))
        std::abort();
    return 0;
}
