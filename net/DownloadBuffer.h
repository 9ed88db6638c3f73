#pragma once

#include <cstdint>

// Headroom a grown download buffer gets at least beyond what the current
// chunk needs.
constexpr int32_t kDownloadGrowth = 0x100000;

enum class AppendResult {
    Appended,
    // The count would pass the largest signed 32-bit size.
    TooLarge,
    // The larger buffer could not be allocated; nothing was changed.
    NoMemory,
};

// The capacity a buffer needs for a chunk of cbChunk bytes at offset nSize:
// nCapacity while it fits, else the larger of nSize + cbChunk +
// kDownloadGrowth and one and a half times nCapacity (at most INT32_MAX),
// so that a long body costs a few copies rather than one per MiB. Returns
// false when nSize + cbChunk itself passes INT32_MAX.
bool PlanCapacity(int32_t nSize, uint32_t cbChunk, int32_t nCapacity, int32_t* pnNewCapacity);

// Appends the chunk at *pnSize, first replacing the buffer (allocated with
// new[], released with delete[]) by a larger one when it does not fit; the
// larger one holds the old bytes, and what lies past them is undefined.
// When the planned capacity cannot be allocated, the least that still
// leaves kDownloadGrowth of headroom is tried. A null buffer with capacity
// 0 counts as full.
AppendResult AppendChunk(uint8_t** ppBuffer, int32_t* pnSize, int32_t* pnCapacity, const uint8_t* pChunk,
                         uint32_t cbChunk);
