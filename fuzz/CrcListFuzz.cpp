#include "engine/FileVerify.h"
#include "engine/PackageList.h"

#include <algorithm>
#include <cstdlib>

// The CRC list from the downloaded bytes, and the check every name gets
// before its file is opened. The entries, written back as a list, read as
// the same entries.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t cb)
{
    const std::wstring strText = ServerListText(pData, static_cast<int32_t>(std::min<size_t>(cb, INT32_MAX)));
    const std::vector<CrcListEntry> entries = ParseCrcList(strText);

    std::wstring strWritten;
    for (const CrcListEntry& entry : entries) {
        IsNameInsideFolder(entry.strName);
        strWritten += entry.strName + L";" + std::to_wstring(entry.nCrc) + L"\r\n";
    }
    const std::vector<CrcListEntry> again = ParseCrcList(strWritten);
    const auto same = [](const CrcListEntry& a, const CrcListEntry& b) {
        return a.strName == b.strName && a.nCrc == b.nCrc;
    };
    if (!std::equal(again.begin(), again.end(), entries.begin(), entries.end(), same))
        std::abort();
    return 0;
}
