#include "zip/ZipItemRecord.h"

#include "zip/LittleEndian.h"

namespace {

FILETIME ToFileTime(uint64_t n)
{
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(n);
    ft.dwHighDateTime = static_cast<DWORD>(n >> 32);
    return ft;
}

}  // namespace

DWORD MapZipAttributes(uint32_t nVersionMadeBy, uint32_t nExternalAttributes)
{
    const uint32_t a = nExternalAttributes;
    switch ((nVersionMadeBy >> 8) & 0xFF) {
    case 0:   // FAT
    case 7:
    case 11:  // NTFS
    case 14:  // VFAT
        return a & (kZipAttrReadOnly | kZipAttrHidden | kZipAttrSystem | kZipAttrFolder | kZipAttrArchive);
    default: {
        // Unix-style mode in the high 16 bits: S_IFDIR and the owner's write bit.
        DWORD dw = kZipAttrArchive;
        if (a & 0x40000000)
            dw |= kZipAttrFolder;
        if (!(a & 0x00800000))
            dw |= kZipAttrReadOnly;
        return dw;
    }
    }
}

FILETIME DosStampToFileTime(uint32_t nDosStamp)
{
    const uint32_t nDate = nDosStamp >> 16;
    const uint32_t nTime = nDosStamp & 0xFFFF;
    SYSTEMTIME stLocal = {};
    stLocal.wDay = static_cast<WORD>(nDate & 0x1F);
    stLocal.wMonth = static_cast<WORD>((nDate >> 5) & 0x0F);
    stLocal.wYear = static_cast<WORD>(1980 + (nDate >> 9));
    stLocal.wSecond = static_cast<WORD>(2 * (nTime & 0x1F));
    stLocal.wMinute = static_cast<WORD>((nTime >> 5) & 0x3F);
    stLocal.wHour = static_cast<WORD>(nTime >> 11);

    SYSTEMTIME stUtc;
    FILETIME ft;
    if (!::TzSpecificLocalTimeToSystemTime(nullptr, &stLocal, &stUtc) || !::SystemTimeToFileTime(&stUtc, &ft))
        return ToFileTime(0);
    return ft;
}

FILETIME UnixTimeToFileTime(int32_t nUnixTime)
{
    return ToFileTime(static_cast<uint64_t>((static_cast<int64_t>(nUnixTime) + 11644473600LL) * 10000000LL));
}

void ApplyExtendedTimestamps(const uint8_t* pField, size_t cbField, ZipItemInfo* pInfo)
{
    size_t nOffset = 0;
    while (nOffset + 4 < cbField) {
        const uint8_t* pRecord = pField + nOffset;
        size_t cbData = ReadLe16(pRecord + 2);
        if (pRecord[0] != 'U' || pRecord[1] != 'T') {
            nOffset += 4 + cbData;
            continue;
        }
        // The data ends where the record says or where the field ends.
        const uint8_t* p = pRecord + 4;
        const uint8_t* pEnd = pField + (cbData < cbField - nOffset - 4 ? nOffset + 4 + cbData : cbField);
        if (p >= pEnd)
            return;
        const uint8_t nFlags = *p++;
        FILETIME* const targets[] = {&pInfo->ftLastWrite, &pInfo->ftLastAccess, &pInfo->ftCreation};
        for (int nBit = 0; nBit < 3; ++nBit) {
            if (!(nFlags & (1 << nBit)))
                continue;
            if (pEnd - p < 4)
                return;
            *targets[nBit] = UnixTimeToFileTime(static_cast<int32_t>(ReadLe32(p)));
            p += 4;
        }
        return;
    }
}
