#include "net/DownloadBuffer.h"

#include <cstring>
#include <limits>
#include <new>

bool PlanCapacity(int32_t nSize, uint32_t cbChunk, int32_t nCapacity, int32_t* pnNewCapacity)
{
    constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
    int64_t nNeeded = static_cast<int64_t>(nSize) + cbChunk;
    if (nSize < 0 || nNeeded > kMax)
        return false;
    if (nNeeded <= nCapacity) {
        *pnNewCapacity = nCapacity;
        return true;
    }
    int64_t nGrown = nNeeded + kDownloadGrowth;
    *pnNewCapacity = static_cast<int32_t>(nGrown < kMax ? nGrown : kMax);
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
        if (!pNew)
            return AppendResult::NoMemory;
        std::memset(pNew, 0, static_cast<size_t>(nNewCapacity));
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
