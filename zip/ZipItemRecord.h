#pragma once

#include "zip/Zip.h"

#include <cstddef>
#include <cstdint>

// File attributes of an entry from its version-made-by field (the host is
// its high byte) and its external attributes.
DWORD MapZipAttributes(uint32_t nVersionMadeBy, uint32_t nExternalAttributes);

// A DOS date and time stamp (date in the high 16 bits) read as local time,
// as a UTC file time; zero when the stamp is no valid calendar time.
FILETIME DosStampToFileTime(uint32_t nDosStamp);

// Unix time in seconds as a file time.
FILETIME UnixTimeToFileTime(int32_t nUnixTime);

// Takes the times of the first "UT" record of a local extra field into the
// entry. A record shorter than its flags announce gives the times that fit.
void ApplyExtendedTimestamps(const uint8_t* pField, size_t cbField, ZipItemInfo* pInfo);
