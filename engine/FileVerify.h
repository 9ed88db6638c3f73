#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One line of the CRC list that is verified.
struct CrcListEntry {
    std::wstring strName;  // relative to the install folder
    uint32_t nCrc;
};

// Whether a CRC-list name stays inside the install folder: not rooted, and
// no component the zip layer refuses (drive or stream colon, "..", dots and
// blanks only, device name).
bool IsNameInsideFolder(const std::wstring& strName);

// The lines of exactly two fields whose value is not 0, in list order.
std::vector<CrcListEntry> ParseCrcList(const std::wstring& strText);
