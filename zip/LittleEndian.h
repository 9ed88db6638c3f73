#pragma once

#include <cstdint>

// Fields of zip records, stored least significant byte first.
inline uint16_t ReadLe16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t ReadLe32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

inline uint64_t ReadLe64(const uint8_t* p)
{
    return ReadLe32(p) | (static_cast<uint64_t>(ReadLe32(p + 4)) << 32);
}

inline void WriteLe(uint8_t* p, uint64_t n, int cb)
{
    for (int i = 0; i < cb; ++i)
        p[i] = static_cast<uint8_t>(n >> (8 * i));
}
