#include "net/DownloadBuffer.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

namespace {

constexpr int64_t kMaxCapacity = std::numeric_limits<int32_t>::max();

int32_t CappedCapacity(int64_t nCapacity)
{
    return static_cast<int32_t>(std::min(nCapacity, kMaxCapacity));
}

}  // namespace

bool PlanCapacity(int32_t nSize, uint32_t cbChunk, int32_t nCapacity, int32_t* pnNewCapacity)
{
    int64_t nNeeded = static_cast<int64_t>(nSize) + cbChunk;
    if (nSize < 0 || nNeeded > kMaxCapacity)
        return false;
    if (nNeeded <= nCapacity) {
        *pnNewCapacity = nCapacity;
        return true;
    }
    const int64_t nGeometric = static_cast<int64_t>(std::max(nCapacity, 0)) * 3 / 2;
    *pnNewCapacity = CappedCapacity(std::max(nNeeded + kDownloadGrowth, nGeometric));
    return true;
}

AppendResult AppendChunk(uint8_t** ppBuffer, int32_t* pnSize, int32_t* pnCapacity, const uint8_t* pChunk,
                         uint32_t cbChunk)
{
    int32_t nNewCapacity = 0;
    if (!PlanCapacity(*pnSize, cbChunk, *pnCapacity, &nNewCapacity))
        return AppendResult::TooLarge;
    if (nNewCapacity != *pnCapacity || !*ppBuffer) {
        uint8_t* pNew = new (std::nothrow) uint8_t[static_cast<size_t>(nNewCapacity)];
        const int32_t nLeast = CappedCapacity(static_cast<int64_t>(*pnSize) + cbChunk + kDownloadGrowth);
        if (!pNew && nLeast < nNewCapacity) {
            nNewCapacity = nLeast;
            pNew = new (std::nothrow) uint8_t[static_cast<size_t>(nNewCapacity)];
        }
        if (!pNew)
            return AppendResult::NoMemory;
        // Only the bytes held so far are copied: the rest of the new block
        // stays untouched, and so off the resident set, until written.
        if (*ppBuffer && *pnSize > 0)
            std::memcpy(pNew, *ppBuffer, static_cast<size_t>(*pnSize));
        delete[] *ppBuffer;
        *ppBuffer = pNew;
        *pnCapacity = nNewCapacity;
    }
    if (cbChunk > 0)
        std::memcpy(*ppBuffer + *pnSize, pChunk, cbChunk);
    *pnSize += static_cast<int32_t>(cbChunk);
    return AppendResult::Appended;
}
