#include "net/DownloadBuffer.h"
#include "net/ProxyPrompt.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {
constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
}

TEST(PlanCapacity, GrowsOnlyPastTheCapacityAndNeverPastTheSignedLimit)
{
    struct Case {
        int32_t nSize;
        uint32_t cbChunk;
        int32_t nCapacity;
        bool bOk;
        int32_t nWant;
    };
    const Case cases[] = {
        {0, 5120, 0xA00000, true, 0xA00000},
        {0xA00000 - 5120, 5120, 0xA00000, true, 0xA00000},
        // Past the capacity: half as much again, or the headroom past the
        // chunk where that is more.
        {0xA00000 - 5119, 5120, 0xA00000, true, 0xF00000},
        {0xA00000, 0x600000, 0xA00000, true, 0x1000000 + kDownloadGrowth},
        {4000, 200, 4096, true, 4200 + kDownloadGrowth},
        {0, 1, 0, true, 1 + kDownloadGrowth},
        {0x60000000, 1, 0x60000000, true, 0x7FFFFFFF},
        // Headroom stops at the limit; the bytes themselves still fit.
        {kMax - 5120 - 100, 5120, kMax - 5120 - 100, true, kMax},
        {kMax - 5120, 5120, kMax - 5120, true, kMax},
        {kMax - 5119, 5120, kMax, false, 0},
        {kMax, 1, kMax, false, 0},
        {-1, 1, 100, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.nSize << " + " << c.cbChunk << " in " << c.nCapacity);
        int32_t nNew = -7;
        EXPECT_EQ(PlanCapacity(c.nSize, c.cbChunk, c.nCapacity, &nNew), c.bOk);
        if (c.bOk) {
            EXPECT_EQ(nNew, c.nWant);
        }
    }
}

TEST(AppendChunk, ReplacesTheBufferWithALargerOneHoldingTheBytes)
{
    int32_t nCapacity = 8;
    int32_t nSize = 6;
    uint8_t* pBuffer = new uint8_t[8]{1, 2, 3, 4, 5, 6, 0, 0};
    const uint8_t chunk[] = {7, 8, 9};

    ASSERT_EQ(AppendChunk(&pBuffer, &nSize, &nCapacity, chunk, 3), AppendResult::Appended);
    EXPECT_EQ(nSize, 9);
    EXPECT_EQ(nCapacity, 9 + kDownloadGrowth);
    EXPECT_EQ(std::vector<uint8_t>(pBuffer, pBuffer + 9), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
    delete[] pBuffer;
}

TEST(AppendChunk, TooLargeLeavesEverythingAsItWas)
{
    uint8_t storage[4] = {};
    uint8_t* pBuffer = storage;
    int32_t nSize = kMax - 1;
    int32_t nCapacity = kMax - 1;
    const uint8_t chunk[2] = {1, 2};
    EXPECT_EQ(AppendChunk(&pBuffer, &nSize, &nCapacity, chunk, 2), AppendResult::TooLarge);
    EXPECT_EQ(pBuffer, storage);
    EXPECT_EQ(nSize, kMax - 1);
    EXPECT_EQ(nCapacity, kMax - 1);
}

TEST(StoreProxyCredential, CutsAt63UnitsWithoutSplittingASurrogatePair)
{
    const std::wstring strSmile = L"\xD83D\xDE00";
    struct Case {
        std::wstring strEntry;
        std::wstring strWant;
    };
    const Case cases[] = {
        {L"", L""},
        {L"alice", L"alice"},
        {std::wstring(63, L'a'), std::wstring(63, L'a')},
        {std::wstring(64, L'a'), std::wstring(63, L'a')},
        {std::wstring(500, L'b'), std::wstring(63, L'b')},
        // The pair would straddle the cut: it goes as a whole.
        {std::wstring(62, L'c') + strSmile + L"d", std::wstring(62, L'c')},
        {std::wstring(61, L'c') + strSmile + L"d", std::wstring(61, L'c') + strSmile},
        {L"名称" + std::wstring(70, L'密'), L"名称" + std::wstring(61, L'密')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "entry of " << c.strEntry.size() << " units");
        wchar_t buffer[kProxyCredentialChars + 4];
        std::wmemset(buffer, L'#', kProxyCredentialChars + 4);
        StoreProxyCredential(buffer, c.strEntry);
        EXPECT_EQ(std::wstring(buffer), c.strWant);
        EXPECT_EQ(std::wstring(buffer + kProxyCredentialChars, 4), L"####");
    }
}
