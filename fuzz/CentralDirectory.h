#pragma once

#include "fuzz/SparseInput.h"
#include "zip/LittleEndian.h"

#include <cstdint>
#include <string>
#include <vector>

// Central headers as the format lays them out, read here apart from the
// zip layer, so that the targets can tell which directory it read.
struct CentralEntry {
    std::string strName;  // stored bytes
    uint16_t nFlags = 0;
    uint32_t nCrc = 0;
    // 0xFFFFFFFF: the size is in the zip64 extra field.
    uint32_t cbUncompressed = 0;
};

// The cbDirectory bytes at nStart as nEntries central headers; false
// unless they are exactly that.
inline bool ReadCentralHeaders(const SparseInput& input, uint64_t nStart, uint64_t cbDirectory, uint64_t nEntries,
                               std::vector<CentralEntry>* pEntries)
{
    pEntries->clear();
    if (nEntries > cbDirectory / 46)
        return false;
    uint64_t nPos = nStart;
    for (uint64_t i = 0; i < nEntries; ++i) {
        uint8_t header[46];
        if (nStart + cbDirectory - nPos < sizeof(header) || !input.Read(nPos, header, sizeof(header)) ||
            ReadLe32(header) != 0x02014b50)
            return false;
        CentralEntry entry;
        entry.nFlags = ReadLe16(header + 8);
        entry.nCrc = ReadLe32(header + 16);
        entry.cbUncompressed = ReadLe32(header + 24);
        const uint64_t cbName = ReadLe16(header + 28);
        const uint64_t cbRest = ReadLe16(header + 30) + ReadLe16(header + 32);
        nPos += sizeof(header);
        if (nStart + cbDirectory - nPos < cbName + cbRest)
            return false;
        entry.strName.resize(cbName);
        input.Read(nPos, reinterpret_cast<uint8_t*>(&entry.strName[0]), cbName);
        nPos += cbName + cbRest;
        pEntries->push_back(entry);
    }
    return nPos == nStart + cbDirectory;
}
