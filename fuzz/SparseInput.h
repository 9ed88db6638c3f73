#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// An archive file from a fuzz input: the first eight bytes say where a run
// of zero bytes goes into the rest and how long it is (little-endian, at
// most 128 MiB), so that an input of a few hundred bytes can stand for an
// archive of 112 MiB, as a sparse file does.
class SparseInput {
public:
    SparseInput(const uint8_t* pData, size_t cb)
    {
        if (cb < 8)
            return;
        m_nGapAt = Le32(pData);
        m_cbGap = Le32(pData + 4) & (kMaxGap - 1);
        m_pBytes = pData + 8;
        m_cbBytes = cb - 8;
        if (m_nGapAt > m_cbBytes)
            m_nGapAt = m_cbBytes;
    }

    uint64_t Size() const { return m_cbBytes + m_cbGap; }

    // Reads cb bytes at nPos; false unless all of them are there.
    bool Read(uint64_t nPos, uint8_t* pOut, size_t cb) const
    {
        if (nPos > Size() || cb > Size() - nPos)
            return false;
        for (size_t cbDone = 0; cbDone < cb;) {
            const uint64_t n = nPos + cbDone;
            size_t cbRun = cb - cbDone;
            if (n < m_nGapAt) {
                cbRun = static_cast<size_t>(cbRun < m_nGapAt - n ? cbRun : m_nGapAt - n);
                std::memcpy(pOut + cbDone, m_pBytes + n, cbRun);
            } else if (n < m_nGapAt + m_cbGap) {
                cbRun = static_cast<size_t>(cbRun < m_nGapAt + m_cbGap - n ? cbRun : m_nGapAt + m_cbGap - n);
                std::memset(pOut + cbDone, 0, cbRun);
            } else {
                std::memcpy(pOut + cbDone, m_pBytes + (n - m_cbGap), cbRun);
            }
            cbDone += cbRun;
        }
        return true;
    }

private:
    static constexpr uint64_t kMaxGap = uint64_t{1} << 27;

    static uint32_t Le32(const uint8_t* p)
    {
        return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
               static_cast<uint32_t>(p[3]) << 24;
    }

    const uint8_t* m_pBytes = nullptr;
    size_t m_cbBytes = 0;
    uint64_t m_nGapAt = 0;
    uint64_t m_cbGap = 0;
};
