#include "zip/ZipEndRecords.h"

#include "framework/SafeFile.h"
#include "zip/LittleEndian.h"

#include <memory>
#include <new>

namespace {

constexpr uint32_t kEndRecordSignature = 0x06054b50;
constexpr uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr uint32_t kZip64EndRecordSignature = 0x06064b50;
constexpr uint32_t kCentralHeaderSignature = 0x02014b50;
constexpr size_t kCentralHeaderSize = 46;
// The end record with the longest comment, and a zip64 locator before it.
constexpr size_t kTailSize = kZip64LocatorSize + kZipEndRecordSize + 0xFFFF;

bool ReadAt(HANDLE hFile, uint64_t nPos, uint8_t* pBuffer, uint64_t cb)
{
    if (cb == 0)
        return true;
    if (cb > MAXDWORD)
        return false;
    DWORD cbRead = 0;
    return ReadFileAt(hFile, nPos, pBuffer, static_cast<DWORD>(cb), &cbRead) && cbRead == cb;
}

bool Agrees(uint64_t nEndField, uint64_t nEscape, uint64_t nZip64Field)
{
    return nEndField == nZip64Field || nEndField == nEscape;
}

// The zip64 end record the locator at nLocator leads to, which must end
// where the locator starts.
bool ReadZip64EndRecord(HANDLE hArchive, const uint8_t* pLocator, uint64_t nLocator, uint64_t* pnRecord,
                        ZipEndFields* pFields)
{
    if (ReadLe32(pLocator + 4) != 0 || ReadLe32(pLocator + 16) != 1)
        return false;
    const uint64_t nRecord = ReadLe64(pLocator + 8);
    uint8_t record[kZip64EndRecordSize];
    if (nRecord > nLocator || nLocator - nRecord < kZip64EndRecordSize ||
        !ReadAt(hArchive, nRecord, record, sizeof(record)))
        return false;
    // The record's size leaves out its signature and the size itself.
    if (ReadLe32(record) != kZip64EndRecordSignature || ReadLe64(record + 4) != nLocator - nRecord - 12)
        return false;
    pFields->nDisk = ReadLe32(record + 16);
    pFields->nDirectoryDisk = ReadLe32(record + 20);
    pFields->nDiskEntries = ReadLe64(record + 24);
    pFields->nEntries = ReadLe64(record + 32);
    pFields->cbDirectory = ReadLe64(record + 40);
    pFields->nDirectoryOffset = ReadLe64(record + 48);
    *pnRecord = nRecord;
    return true;
}

}  // namespace

bool FindEndRecord(const uint8_t* pTail, size_t cbTail, size_t* pnAt, ZipEndFields* pFields)
{
    if (cbTail < kZipEndRecordSize)
        return false;
    for (size_t n = cbTail - kZipEndRecordSize + 1; n-- > 0;) {
        const uint8_t* p = pTail + n;
        if (ReadLe32(p) != kEndRecordSignature || n + kZipEndRecordSize + ReadLe16(p + 20) != cbTail)
            continue;
        pFields->nDisk = ReadLe16(p + 4);
        pFields->nDirectoryDisk = ReadLe16(p + 6);
        pFields->nDiskEntries = ReadLe16(p + 8);
        pFields->nEntries = ReadLe16(p + 10);
        pFields->cbDirectory = ReadLe32(p + 12);
        pFields->nDirectoryOffset = ReadLe32(p + 16);
        *pnAt = n;
        return true;
    }
    return false;
}

bool EndRecordsAgree(const ZipEndFields& end, const ZipEndFields* pZip64)
{
    const ZipEndFields& used = pZip64 ? *pZip64 : end;
    if (used.nDisk != 0 || used.nDirectoryDisk != 0 || used.nDiskEntries != used.nEntries)
        return false;
    if (!pZip64)
        return true;
    return Agrees(end.nDisk, 0xFFFF, 0) && Agrees(end.nDirectoryDisk, 0xFFFF, 0) &&
           Agrees(end.nDiskEntries, 0xFFFF, pZip64->nEntries) && Agrees(end.nEntries, 0xFFFF, pZip64->nEntries) &&
           Agrees(end.cbDirectory, 0xFFFFFFFF, pZip64->cbDirectory) &&
           Agrees(end.nDirectoryOffset, 0xFFFFFFFF, pZip64->nDirectoryOffset);
}

bool DirectoryHoldsEntries(const uint8_t* pDirectory, size_t cbDirectory, uint64_t nEntries)
{
    uint64_t nFound = 0;
    for (size_t n = 0; n < cbDirectory; ++nFound) {
        const uint8_t* p = pDirectory + n;
        if (cbDirectory - n < kCentralHeaderSize || ReadLe32(p) != kCentralHeaderSignature)
            return false;
        const size_t cbHeader = kCentralHeaderSize + ReadLe16(p + 28) + ReadLe16(p + 30) + ReadLe16(p + 32);
        if (cbHeader > cbDirectory - n)
            return false;
        n += cbHeader;
    }
    return nFound == nEntries;
}

bool ReadEndRecords(HANDLE hArchive, ZipEndRecords* pRecords)
{
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(hArchive, &size))
        return false;
    const uint64_t cbFile = static_cast<uint64_t>(size.QuadPart);
    const size_t cbTail = cbFile < kTailSize ? static_cast<size_t>(cbFile) : kTailSize;
    const uint64_t nTail = cbFile - cbTail;
    std::unique_ptr<uint8_t[]> pTail(new (std::nothrow) uint8_t[kTailSize]);
    size_t nAt = 0;
    ZipEndFields end;
    if (!pTail || !ReadAt(hArchive, nTail, pTail.get(), cbTail) || !FindEndRecord(pTail.get(), cbTail, &nAt, &end))
        return false;
    pRecords->nEndRecord = nTail + nAt;

    // A locator right before the end record announces a zip64 end record;
    // the directory then ends where that record starts.
    const uint8_t* pLocator = nAt >= kZip64LocatorSize ? pTail.get() + nAt - kZip64LocatorSize : nullptr;
    pRecords->bZip64 = pLocator && ReadLe32(pLocator) == kZip64LocatorSignature;
    ZipEndFields zip64;
    if (pRecords->bZip64 && !ReadZip64EndRecord(hArchive, pLocator, pRecords->nEndRecord - kZip64LocatorSize,
                                                &pRecords->nZip64Record, &zip64))
        return false;
    if (!EndRecordsAgree(end, pRecords->bZip64 ? &zip64 : nullptr))
        return false;
    const ZipEndFields& used = pRecords->bZip64 ? zip64 : end;
    pRecords->nEntries = used.nEntries;

    // As minizip places it: the directory ends where the next record
    // starts, and bytes before the offset it records are a prefix.
    const uint64_t nDirectoryEnd = pRecords->bZip64 ? pRecords->nZip64Record : pRecords->nEndRecord;
    if (used.cbDirectory > nDirectoryEnd || used.nDirectoryOffset > nDirectoryEnd - used.cbDirectory ||
        used.cbDirectory > MAXDWORD)
        return false;
    const size_t cbDirectory = static_cast<size_t>(used.cbDirectory);
    std::unique_ptr<uint8_t[]> pDirectory(new (std::nothrow) uint8_t[cbDirectory ? cbDirectory : 1]);
    return pDirectory && ReadAt(hArchive, nDirectoryEnd - cbDirectory, pDirectory.get(), cbDirectory) &&
           DirectoryHoldsEntries(pDirectory.get(), cbDirectory, used.nEntries);
}

void MakeZip64Locator(const ZipEndRecords& records, uint8_t* pLocator)
{
    WriteLe(pLocator, kZip64LocatorSignature, 4);
    WriteLe(pLocator + 4, records.bZip64 ? 0 : 0xFFFFFFFF, 4);
    WriteLe(pLocator + 8, records.bZip64 ? records.nZip64Record : UINT64_MAX, 8);
    WriteLe(pLocator + 16, records.bZip64 ? 1 : 0xFFFFFFFF, 4);
}
