#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <vector>

// The window's artwork: JPEG resources of type "JGP" in the exe, decoded
// straight into 24-bit DIB sections that the window copies to the screen
// as they are. The image is decoded and scaled row by row into the
// section; no other copy of its pixels is made.

// A DIB section of cx by cy, rows top-down, with nBitCount bits per
// pixel, and *ppBits its pixels; null when it cannot be made. The caller
// owns it.
HBITMAP CreateTopDownSection(int cx, int cy, WORD nBitCount, void** ppBits);

// A 24-bit section of cx by cy for artwork: rows in the order the decoder
// writes them, in the screen's byte order (blue, green, red).
HBITMAP CreateArtBitmap(int cx, int cy);

// Decodes the resource with the id and writes it, scaled to the section's
// size, into hBitmap, a section from CreateArtBitmap. False, with the
// section's pixels undefined, when the resource is missing or does not
// decode.
bool DrawResourceInto(WORD nId, HBITMAP hBitmap);

// CreateArtBitmap and DrawResourceInto in one; null when either fails.
HBITMAP LoadBitmapFromResource(WORD nId, int cx, int cy);

// Where target sample t of nTargetCount falls among nSourceCount samples,
// centres aligned: the first source sample and the weight, out of 256, of
// the one after it (0 when the first alone is taken).
struct ArtScale {
    int nFirst = 0;
    int nWeight = 0;
};
ArtScale ScaleStep(int nTarget, int nSourceCount, int nTargetCount);

// Scales BGR rows, handed in top to bottom, linearly in both directions
// into a 24-bit target of the given stride; each target row is written
// once the source rows it blends have come.
class CArtScaler {
public:
    CArtScaler(int nSourceWidth, int nSourceHeight, int nTargetWidth, int nTargetHeight, uint8_t* pTarget,
               size_t cbStride);
    void AddRow(int nRow, const uint8_t* pBgr);
    // Whether every target row has been written.
    bool Done() const { return m_nNextTarget == m_nTargetHeight; }

private:
    int m_nSourceHeight;
    int m_nTargetWidth;
    int m_nTargetHeight;
    uint8_t* m_pTarget;
    size_t m_cbStride;
    std::vector<uint8_t> m_previous;
    std::vector<uint8_t> m_current;
    std::vector<ArtScale> m_columns;
    int m_nNextTarget = 0;
};
