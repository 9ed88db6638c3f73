#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

// A decoder for the window's own artwork: baseline JPEG (8-bit samples,
// Huffman coding, one scan), grey or YCbCr, sampling factors 1 or 2,
// restart intervals. It computes as the common reference decoder does by
// default (integer inverse DCT, fixed-point colour conversion), so the
// pixels come within one level of what the system's codecs make of the
// same file; subsampled chroma is replicated rather than smoothed.
//
// The image goes out row by row, top to bottom, as BGR bytes (width * 3),
// and at most one band of 16 rows is held at a time. False for anything
// else, for data that ends early or does not decode, and when row returns
// false; rows already handed out stay handed out.

struct JpegSize {
    int nWidth = 0;
    int nHeight = 0;
};

// The size from the frame header; false when there is no baseline frame.
bool ReadJpegSize(const uint8_t* pData, size_t cbData, JpegSize* pSize);

bool DecodeJpegRows(const uint8_t* pData, size_t cbData, const std::function<bool(int nRow, const uint8_t* pBgr)>& row);
