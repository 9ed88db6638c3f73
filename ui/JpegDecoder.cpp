#include "ui/JpegDecoder.h"

#include <algorithm>
#include <vector>

namespace {

constexpr int kMaxSide = 8192;

// Natural index of each coefficient in zigzag order.
constexpr uint8_t kZigzag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
                                 41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
                                 30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

struct Huffman {
    bool bDefined = false;
    int32_t maxCode[17] = {};  // largest code of each length, -1 for none
    int32_t valueOffset[17] = {};
    uint8_t values[256] = {};
};

struct Component {
    int nId = 0;
    int h = 1;
    int v = 1;
    int nQuant = 0;
    int nDc = 0;
    int nAc = 0;
    int32_t nPrediction = 0;
    // The samples of one row of MCUs.
    std::vector<uint8_t> band;
    int nStride = 0;
};

// Entropy-coded bits, most significant first. A marker ends the data: from
// there on zeros are fed, as decoders do; too many of them fail the image.
class BitReader {
public:
    BitReader(const uint8_t* p, const uint8_t* pEnd) : m_p(p), m_pEnd(pEnd) {}

    bool Bits(int n, int* pValue)
    {
        if (n == 0) {
            *pValue = 0;
            return true;
        }
        while (m_nCount < n) {
            int nByte = 0;
            if (!m_bStopped && m_p < m_pEnd) {
                if (m_p[0] != 0xFF) {
                    nByte = *m_p++;
                } else if (m_p + 1 < m_pEnd && m_p[1] == 0x00) {
                    nByte = 0xFF;
                    m_p += 2;
                } else {
                    m_bStopped = true;
                }
            } else if (++m_nPadding > 64) {
                return false;
            }
            m_nBits |= static_cast<uint32_t>(nByte) << (24 - m_nCount);
            m_nCount += 8;
        }
        *pValue = static_cast<int>(m_nBits >> (32 - n));
        m_nBits <<= n;
        m_nCount -= n;
        return true;
    }

    // Drops what is left of the byte and reads the restart marker due.
    bool Restart()
    {
        m_nBits = 0;
        m_nCount = 0;
        m_bStopped = false;
        while (m_p + 1 < m_pEnd && m_p[0] == 0xFF && m_p[1] == 0xFF)
            ++m_p;
        if (m_p + 1 >= m_pEnd || m_p[0] != 0xFF || (m_p[1] & 0xF8) != 0xD0)
            return false;
        m_p += 2;
        return true;
    }

private:
    const uint8_t* m_p;
    const uint8_t* m_pEnd;
    uint32_t m_nBits = 0;
    int m_nCount = 0;
    bool m_bStopped = false;
    int m_nPadding = 0;
};

bool DecodeSymbol(BitReader& bits, const Huffman& table, int* pSymbol)
{
    int32_t nCode = 0;
    for (int nLength = 1; nLength <= 16; ++nLength) {
        int nBit = 0;
        if (!bits.Bits(1, &nBit))
            return false;
        nCode = (nCode << 1) | nBit;
        if (nCode <= table.maxCode[nLength]) {
            *pSymbol = table.values[table.valueOffset[nLength] + nCode];
            return true;
        }
    }
    return false;
}

// A coefficient of the magnitude category s.
bool ReceiveExtend(BitReader& bits, int s, int* pValue)
{
    if (s > 15 || !bits.Bits(s, pValue))
        return false;
    if (s > 0 && *pValue < (1 << (s - 1)))
        *pValue -= (1 << s) - 1;
    return true;
}

int RangeLimit(int64_t nValue)
{
    // As the reference decoder's table: centred, clamped, and wrapped past
    // +-512 the way its index mask wraps.
    const int nIndex = static_cast<int>(nValue & 1023);
    if (nIndex < 128)
        return nIndex + 128;
    if (nIndex < 512)
        return 255;
    if (nIndex < 896)
        return 0;
    return nIndex - 896;
}

constexpr int kConstBits = 13;
constexpr int kPass1Bits = 2;

// Wide enough that no input overflows; valid data never leaves 32 bits.
int64_t Descale(int64_t x, int n)
{
    return (x + (int64_t(1) << (n - 1))) >> n;
}

// The integer inverse DCT with separate even and odd parts (Loeffler,
// Ligtenberg and Moschytz), 13-bit constants, as the reference decoder's
// default method; coefficients in natural order, dequantised here.
void InverseDct(const int32_t* pCoef, const uint16_t* pQuant, uint8_t* pOut, int nStride)
{
    const int64_t k0_298631336 = 2446, k0_390180644 = 3196, k0_541196100 = 4433, k0_765366865 = 6270;
    const int64_t k0_899976223 = 7373, k1_175875602 = 9633, k1_501321110 = 12299, k1_847759065 = 15137;
    const int64_t k1_961570560 = 16069, k2_053119869 = 16819, k2_562915447 = 20995, k3_072711026 = 25172;
    int64_t work[64];

    auto butterfly = [&](int64_t s0, int64_t s1, int64_t s2, int64_t s3, int64_t s4, int64_t s5, int64_t s6, int64_t s7,
                         int64_t out[8]) {
        int64_t z1 = (s2 + s6) * k0_541196100;
        int64_t tmp2 = z1 + s6 * -k1_847759065;
        int64_t tmp3 = z1 + s2 * k0_765366865;
        int64_t tmp0 = (s0 + s4) * (int64_t(1) << kConstBits);
        int64_t tmp1 = (s0 - s4) * (int64_t(1) << kConstBits);
        const int64_t tmp10 = tmp0 + tmp3, tmp13 = tmp0 - tmp3, tmp11 = tmp1 + tmp2, tmp12 = tmp1 - tmp2;

        tmp0 = s7;
        tmp1 = s5;
        tmp2 = s3;
        tmp3 = s1;
        z1 = tmp0 + tmp3;
        int64_t z2 = tmp1 + tmp2;
        int64_t z3 = tmp0 + tmp2;
        int64_t z4 = tmp1 + tmp3;
        const int64_t z5 = (z3 + z4) * k1_175875602;
        tmp0 *= k0_298631336;
        tmp1 *= k2_053119869;
        tmp2 *= k3_072711026;
        tmp3 *= k1_501321110;
        z1 *= -k0_899976223;
        z2 *= -k2_562915447;
        z3 = z3 * -k1_961570560 + z5;
        z4 = z4 * -k0_390180644 + z5;
        tmp0 += z1 + z3;
        tmp1 += z2 + z4;
        tmp2 += z2 + z3;
        tmp3 += z1 + z4;
        out[0] = tmp10 + tmp3;
        out[7] = tmp10 - tmp3;
        out[1] = tmp11 + tmp2;
        out[6] = tmp11 - tmp2;
        out[2] = tmp12 + tmp1;
        out[5] = tmp12 - tmp1;
        out[3] = tmp13 + tmp0;
        out[4] = tmp13 - tmp0;
    };

    for (int x = 0; x < 8; ++x) {
        int64_t in[8];
        for (int y = 0; y < 8; ++y)
            in[y] = int64_t(pCoef[y * 8 + x]) * pQuant[y * 8 + x];
        int64_t out[8];
        butterfly(in[0], in[1], in[2], in[3], in[4], in[5], in[6], in[7], out);
        for (int y = 0; y < 8; ++y)
            work[y * 8 + x] = Descale(out[y], kConstBits - kPass1Bits);
    }
    for (int y = 0; y < 8; ++y) {
        const int64_t* w = work + y * 8;
        int64_t out[8];
        butterfly(w[0], w[1], w[2], w[3], w[4], w[5], w[6], w[7], out);
        for (int x = 0; x < 8; ++x)
            pOut[y * nStride + x] = static_cast<uint8_t>(RangeLimit(Descale(out[x], kConstBits + kPass1Bits + 3)));
    }
}

// The fixed-point YCbCr to RGB conversion of the reference decoder.
struct ColourTables {
    int crR[256];
    int cbB[256];
    int32_t crG[256];
    int32_t cbG[256];
    ColourTables()
    {
        constexpr int32_t kHalf = int32_t(1) << 15;
        for (int i = 0; i < 256; ++i) {
            const int32_t x = i - 128;
            crR[i] = static_cast<int>((91881 * x + kHalf) >> 16);
            cbB[i] = static_cast<int>((116130 * x + kHalf) >> 16);
            crG[i] = -46802 * x;
            cbG[i] = -22554 * x + kHalf;
        }
    }
};

uint8_t Clamp(int n)
{
    return static_cast<uint8_t>(std::clamp(n, 0, 255));
}

// The markers before the scan, read and checked.
class Decoder {
public:
    Decoder(const uint8_t* pData, size_t cbData) : m_p(pData), m_pEnd(pData + cbData) {}

    // Reads up to the frame header (bFrameOnly) or the scan header.
    bool ReadHeaders(bool bFrameOnly)
    {
        if (m_pEnd - m_p < 2 || m_p[0] != 0xFF || m_p[1] != 0xD8)
            return false;
        m_p += 2;
        for (;;) {
            while (m_p < m_pEnd && *m_p == 0xFF)
                ++m_p;
            if (m_p >= m_pEnd)
                return false;
            const int nMarker = *m_p++;
            if (nMarker == 0xD9 || (nMarker >= 0xD0 && nMarker <= 0xD7) || nMarker == 0x01)
                return false;
            if (m_pEnd - m_p < 2)
                return false;
            const size_t cbSegment = static_cast<size_t>(m_p[0] << 8 | m_p[1]);
            if (cbSegment < 2 || static_cast<size_t>(m_pEnd - m_p) < cbSegment)
                return false;
            const uint8_t* s = m_p + 2;
            const size_t cb = cbSegment - 2;
            m_p += cbSegment;
            bool bOk = true;
            if (nMarker == 0xC0 || nMarker == 0xC1) {
                // One frame: the size read first is the size decoded.
                bOk = m_components.empty() && ReadFrame(s, cb);
                if (bOk && bFrameOnly)
                    return true;
            } else if (nMarker >= 0xC2 && nMarker <= 0xCF && nMarker != 0xC4 && nMarker != 0xC8 && nMarker != 0xCC) {
                return false;  // progressive, lossless or arithmetic coding
            } else if (nMarker == 0xC4) {
                bOk = ReadHuffman(s, cb);
            } else if (nMarker == 0xDB) {
                bOk = ReadQuant(s, cb);
            } else if (nMarker == 0xDD) {
                bOk = cb == 2;
                m_nRestartInterval = bOk ? (s[0] << 8 | s[1]) : 0;
            } else if (nMarker == 0xDA) {
                return !bFrameOnly && ReadScan(s, cb);
            }
            if (!bOk)
                return false;
        }
    }

    bool Decode(const std::function<bool(int, const uint8_t*)>& row)
    {
        int hMax = 1, vMax = 1;
        for (const Component& c : m_components) {
            hMax = std::max(hMax, c.h);
            vMax = std::max(vMax, c.v);
        }
        const int nMcuWidth = hMax * 8, nMcuHeight = vMax * 8;
        const int nMcusX = (m_size.nWidth + nMcuWidth - 1) / nMcuWidth;
        const int nMcusY = (m_size.nHeight + nMcuHeight - 1) / nMcuHeight;
        for (Component& c : m_components) {
            c.nStride = nMcusX * c.h * 8;
            c.band.assign(static_cast<size_t>(c.nStride) * c.v * 8, 0);
        }
        static const ColourTables tables;
        std::vector<uint8_t> bgr(static_cast<size_t>(m_size.nWidth) * 3);
        BitReader bits(m_p, m_pEnd);
        int32_t coef[64];
        int nMcus = 0;
        for (int my = 0; my < nMcusY; ++my) {
            for (int mx = 0; mx < nMcusX; ++mx, ++nMcus) {
                if (m_nRestartInterval && nMcus > 0 && nMcus % m_nRestartInterval == 0) {
                    if (!bits.Restart())
                        return false;
                    for (Component& c : m_components)
                        c.nPrediction = 0;
                }
                for (Component& c : m_components) {
                    for (int by = 0; by < c.v; ++by) {
                        for (int bx = 0; bx < c.h; ++bx) {
                            if (!DecodeBlock(bits, c, coef))
                                return false;
                            InverseDct(coef, m_quant[c.nQuant],
                                       &c.band[static_cast<size_t>(by * 8) * c.nStride + (mx * c.h + bx) * 8],
                                       c.nStride);
                        }
                    }
                }
            }
            for (int y = 0; y < nMcuHeight; ++y) {
                const int nRow = my * nMcuHeight + y;
                if (nRow >= m_size.nHeight)
                    break;
                const Component& c0 = m_components[0];
                const uint8_t* pY = &c0.band[static_cast<size_t>(y * c0.v / vMax) * c0.nStride];
                if (m_components.size() == 1) {
                    for (int x = 0; x < m_size.nWidth; ++x)
                        bgr[x * 3] = bgr[x * 3 + 1] = bgr[x * 3 + 2] = pY[x];
                } else {
                    const Component& c1 = m_components[1];
                    const Component& c2 = m_components[2];
                    const uint8_t* pCb = &c1.band[static_cast<size_t>(y * c1.v / vMax) * c1.nStride];
                    const uint8_t* pCr = &c2.band[static_cast<size_t>(y * c2.v / vMax) * c2.nStride];
                    for (int x = 0; x < m_size.nWidth; ++x) {
                        const int nY = pY[x * c0.h / hMax];
                        const int cb = pCb[x * c1.h / hMax];
                        const int cr = pCr[x * c2.h / hMax];
                        bgr[x * 3] = Clamp(nY + tables.cbB[cb]);
                        bgr[x * 3 + 1] = Clamp(nY + static_cast<int>((tables.cbG[cb] + tables.crG[cr]) >> 16));
                        bgr[x * 3 + 2] = Clamp(nY + tables.crR[cr]);
                    }
                }
                if (!row(nRow, bgr.data()))
                    return false;
            }
        }
        return true;
    }

    JpegSize Size() const { return m_size; }

private:
    bool ReadFrame(const uint8_t* s, size_t cb)
    {
        if (cb < 6 || s[0] != 8)
            return false;
        m_size.nHeight = s[1] << 8 | s[2];
        m_size.nWidth = s[3] << 8 | s[4];
        const int nComponents = s[5];
        if (m_size.nWidth < 1 || m_size.nHeight < 1 || m_size.nWidth > kMaxSide || m_size.nHeight > kMaxSide ||
            (nComponents != 1 && nComponents != 3) || cb != 6 + 3 * static_cast<size_t>(nComponents))
            return false;
        m_components.assign(static_cast<size_t>(nComponents), Component());
        for (int i = 0; i < nComponents; ++i) {
            Component& c = m_components[static_cast<size_t>(i)];
            c.nId = s[6 + 3 * i];
            // One component alone is coded block by block, whatever its factors.
            c.h = nComponents == 1 ? 1 : s[7 + 3 * i] >> 4;
            c.v = nComponents == 1 ? 1 : s[7 + 3 * i] & 15;
            c.nQuant = s[8 + 3 * i];
            if (c.h < 1 || c.h > 2 || c.v < 1 || c.v > 2 || c.nQuant > 3)
                return false;
        }
        return true;
    }

    bool ReadHuffman(const uint8_t* s, size_t cb)
    {
        while (cb > 0) {
            if (cb < 17)
                return false;
            const int nClass = s[0] >> 4, nIndex = s[0] & 15;
            if (nClass > 1 || nIndex > 3)
                return false;
            Huffman& table = (nClass == 0 ? m_dc : m_ac)[nIndex];
            size_t nValues = 0;
            for (int i = 1; i <= 16; ++i)
                nValues += s[i];
            if (nValues > 256 || cb < 17 + nValues)
                return false;
            int32_t nCode = 0;
            int nTaken = 0;
            for (int nLength = 1; nLength <= 16; ++nLength) {
                const int nCount = s[nLength];
                table.valueOffset[nLength] = nTaken - nCode;
                nCode += nCount;
                nTaken += nCount;
                if (nCode > (int32_t(1) << nLength))
                    return false;
                table.maxCode[nLength] = nCount ? nCode - 1 : -1;
                nCode <<= 1;
            }
            std::copy(s + 17, s + 17 + nValues, table.values);
            table.bDefined = true;
            s += 17 + nValues;
            cb -= 17 + nValues;
        }
        return true;
    }

    bool ReadQuant(const uint8_t* s, size_t cb)
    {
        while (cb > 0) {
            const int nPrecision = s[0] >> 4, nIndex = s[0] & 15;
            const size_t cbTable = 1 + 64 * (nPrecision ? 2 : 1);
            if (nPrecision > 1 || nIndex > 3 || cb < cbTable)
                return false;
            for (int k = 0; k < 64; ++k)
                m_quant[nIndex][kZigzag[k]] =
                    static_cast<uint16_t>(nPrecision ? (s[1 + 2 * k] << 8 | s[2 + 2 * k]) : s[1 + k]);
            m_bQuant[nIndex] = true;
            s += cbTable;
            cb -= cbTable;
        }
        return true;
    }

    // One scan of every component, interleaved, of the whole spectrum.
    bool ReadScan(const uint8_t* s, size_t cb)
    {
        if (m_components.empty() || cb < 1 || s[0] != m_components.size() || cb != 4 + 2 * m_components.size())
            return false;
        for (size_t i = 0; i < m_components.size(); ++i) {
            Component& c = m_components[i];
            if (s[1 + 2 * i] != c.nId)
                return false;
            c.nDc = s[2 + 2 * i] >> 4;
            c.nAc = s[2 + 2 * i] & 15;
            if (c.nDc > 3 || c.nAc > 3 || !m_dc[c.nDc].bDefined || !m_ac[c.nAc].bDefined || !m_bQuant[c.nQuant])
                return false;
        }
        const uint8_t* pSpectrum = s + 1 + 2 * m_components.size();
        return pSpectrum[0] == 0 && pSpectrum[1] == 63 && pSpectrum[2] == 0;
    }

    bool DecodeBlock(BitReader& bits, Component& c, int32_t* pCoef)
    {
        std::fill(pCoef, pCoef + 64, 0);
        int s = 0, nValue = 0;
        if (!DecodeSymbol(bits, m_dc[c.nDc], &s) || s > 11 || !ReceiveExtend(bits, s, &nValue))
            return false;
        // Wrapped as 16 bits, where valid data always stays.
        c.nPrediction = static_cast<int16_t>(c.nPrediction + nValue);
        pCoef[0] = c.nPrediction;
        for (int k = 1; k < 64;) {
            int rs = 0;
            if (!DecodeSymbol(bits, m_ac[c.nAc], &rs))
                return false;
            const int r = rs >> 4;
            s = rs & 15;
            if (s == 0) {
                if (r != 15)
                    break;
                k += 16;
                continue;
            }
            k += r;
            if (k > 63 || !ReceiveExtend(bits, s, &nValue))
                return false;
            pCoef[kZigzag[k++]] = nValue;
        }
        return true;
    }

    const uint8_t* m_p;
    const uint8_t* m_pEnd;
    JpegSize m_size;
    std::vector<Component> m_components;
    Huffman m_dc[4];
    Huffman m_ac[4];
    uint16_t m_quant[4][64] = {};
    bool m_bQuant[4] = {};
    int m_nRestartInterval = 0;
};

}  // namespace

bool ReadJpegSize(const uint8_t* pData, size_t cbData, JpegSize* pSize)
{
    Decoder decoder(pData, cbData);
    if (!pData || !decoder.ReadHeaders(true))
        return false;
    *pSize = decoder.Size();
    return true;
}

bool DecodeJpegRows(const uint8_t* pData, size_t cbData, const std::function<bool(int, const uint8_t*)>& row)
{
    Decoder decoder(pData, cbData);
    return pData && decoder.ReadHeaders(false) && decoder.Decode(row);
}
