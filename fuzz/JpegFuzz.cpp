#include "ui/JpegDecoder.h"

#include <cstdlib>

// The window's JPEG decoder over any bytes: every row it hands out is a
// row of the size its frame header gave, in order.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t cb)
{
    JpegSize size;
    const bool bSized = ReadJpegSize(pData, cb, &size);
    int nNext = 0;
    const bool bDecoded = DecodeJpegRows(pData, cb, [&](int nRow, const uint8_t* pBgr) {
        if (!bSized || nRow != nNext++ || nRow >= size.nHeight)
            std::abort();
        // Every byte of the row is read, so the sanitizer sees its size.
        volatile uint8_t nSum = 0;
        for (int i = 0; i < size.nWidth * 3; ++i)
            nSum = static_cast<uint8_t>(nSum + pBgr[i]);
        return true;
    });
    if (bDecoded && nNext != size.nHeight)
        std::abort();
    return 0;
}
