#include "zip/ZipEndRecords.h"

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
// The directory is read in blocks of this size, so that memory does not grow
// with it and a directory that is not one costs one block.
constexpr size_t kDirectoryBlockSize = 65536;

// What an end record or a zip64 end record says, widened.
struct EndFields {
    uint64_t nDisk = 0;
    uint64_t nDirectoryDisk = 0;
    uint64_t nDiskEntries = 0;
    uint64_t nEntries = 0;
    uint64_t cbDirectory = 0;
    uint64_t nDirectoryOffset = 0;
};

EndFields ReadEndFields(const uint8_t* p)
{
    EndFields fields;
    fields.nDisk = ReadLe16(p + 4);
    fields.nDirectoryDisk = ReadLe16(p + 6);
    fields.nDiskEntries = ReadLe16(p + 8);
    fields.nEntries = ReadLe16(p + 10);
    fields.cbDirectory = ReadLe32(p + 12);
    fields.nDirectoryOffset = ReadLe32(p + 16);
    return fields;
}

bool Agrees(uint64_t nEndField, uint64_t nEscape, uint64_t nZip64Field)
{
    return nEndField == nZip64Field || nEndField == nEscape;
}

// One disk, holding all the entries. With a zip64 end record, each field of
// the end record is the zip64 record's value or the escape that sends a
// reader to it.
bool EndRecordsAgree(const EndFields& end, const EndFields* pZip64)
{
    const EndFields& used = pZip64 ? *pZip64 : end;
    if (used.nDisk != 0 || used.nDirectoryDisk != 0 || used.nDiskEntries != used.nEntries)
        return false;
    if (!pZip64)
        return true;
    return Agrees(end.nDisk, 0xFFFF, 0) && Agrees(end.nDirectoryDisk, 0xFFFF, 0) &&
           Agrees(end.nDiskEntries, 0xFFFF, pZip64->nEntries) && Agrees(end.nEntries, 0xFFFF, pZip64->nEntries) &&
           Agrees(end.cbDirectory, 0xFFFFFFFF, pZip64->cbDirectory) &&
           Agrees(end.nDirectoryOffset, 0xFFFFFFFF, pZip64->nDirectoryOffset);
}

// The zip64 end record the locator at nLocator leads to, which must end
// where the locator starts.
bool ReadZip64EndRecord(const ArchiveReader& read, const uint8_t* pLocator, uint64_t nLocator, uint64_t* pnRecord,
                        EndFields* pFields)
{
    if (ReadLe32(pLocator + 4) != 0 || ReadLe32(pLocator + 16) != 1)
        return false;
    const uint64_t nRecord = ReadLe64(pLocator + 8);
    uint8_t record[kZip64EndRecordSize];
    if (nRecord > nLocator || nLocator - nRecord < kZip64EndRecordSize || !read(nRecord, record, sizeof(record)))
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

// True when the cbDirectory bytes at nStart are nEntries central headers
// and nothing else.
bool DirectoryHoldsEntries(const ArchiveReader& read, uint64_t nStart, uint64_t cbDirectory, uint64_t nEntries)
{
    std::unique_ptr<uint8_t[]> pBlock;
    uint64_t nBlock = 0;
    size_t cbBlock = 0;
    const uint64_t nEnd = nStart + cbDirectory;
    uint64_t nFound = 0;
    for (uint64_t n = nStart; n < nEnd; ++nFound) {
        if (nEnd - n < kCentralHeaderSize || nFound == nEntries)
            return false;
        if (n + kCentralHeaderSize > nBlock + cbBlock) {
            if (!pBlock)
                pBlock.reset(new (std::nothrow) uint8_t[kDirectoryBlockSize]);
            nBlock = n;
            cbBlock = nEnd - n < kDirectoryBlockSize ? static_cast<size_t>(nEnd - n) : kDirectoryBlockSize;
            if (!pBlock || !read(nBlock, pBlock.get(), cbBlock))
                return false;
        }
        const uint8_t* p = pBlock.get() + (n - nBlock);
        if (ReadLe32(p) != kCentralHeaderSignature)
            return false;
        n += kCentralHeaderSize + ReadLe16(p + 28) + ReadLe16(p + 30) + ReadLe16(p + 32);
        if (n > nEnd)
            return false;
    }
    return nFound == nEntries;
}

// Whether the end record at nAt in the tail, which starts at nTail in the
// file, agrees with the records before it and with its directory.
bool EndRecordAgrees(const ArchiveReader& read, const uint8_t* pTail, uint64_t nTail, size_t nAt,
                     ZipEndRecords* pRecords)
{
    ZipEndRecords records;
    records.nEndRecord = nTail + nAt;
    const EndFields end = ReadEndFields(pTail + nAt);
    // A locator right before the end record announces a zip64 end record;
    // the directory then ends where that record starts.
    const uint8_t* pLocator = nAt >= kZip64LocatorSize ? pTail + nAt - kZip64LocatorSize : nullptr;
    records.bZip64 = pLocator && ReadLe32(pLocator) == kZip64LocatorSignature;
    EndFields zip64;
    if (records.bZip64 &&
        !ReadZip64EndRecord(read, pLocator, records.nEndRecord - kZip64LocatorSize, &records.nZip64Record, &zip64))
        return false;
    if (!EndRecordsAgree(end, records.bZip64 ? &zip64 : nullptr))
        return false;
    const EndFields& used = records.bZip64 ? zip64 : end;
    records.nEntries = used.nEntries;

    // As minizip places it: the directory ends where the next record
    // starts, and bytes before the offset it records are a prefix.
    const uint64_t nDirectoryEnd = records.bZip64 ? records.nZip64Record : records.nEndRecord;
    if (used.cbDirectory > nDirectoryEnd || used.nDirectoryOffset > nDirectoryEnd - used.cbDirectory ||
        !DirectoryHoldsEntries(read, nDirectoryEnd - used.cbDirectory, used.cbDirectory, used.nEntries))
        return false;
    *pRecords = records;
    return true;
}

}  // namespace

bool ReadEndRecords(const ArchiveReader& read, uint64_t cbFile, ZipEndRecords* pRecords)
{
    const size_t cbTail = cbFile < kTailSize ? static_cast<size_t>(cbFile) : kTailSize;
    const uint64_t nTail = cbFile - cbTail;
    std::unique_ptr<uint8_t[]> pTail(new (std::nothrow) uint8_t[kTailSize]);
    if (!pTail || cbTail < kZipEndRecordSize || !read(nTail, pTail.get(), cbTail))
        return false;
    for (size_t n = cbTail - kZipEndRecordSize + 1; n-- > 0;) {
        const uint8_t* p = pTail.get() + n;
        if (ReadLe32(p) == kEndRecordSignature && n + kZipEndRecordSize + ReadLe16(p + 20) <= cbTail &&
            EndRecordAgrees(read, pTail.get(), nTail, n, pRecords))
            return true;
    }
    return false;
}

uint64_t MakeZip64Locator(const ZipEndRecords& records, uint8_t* pLocator)
{
    for (uint64_t nShift = 1;; ++nShift) {
        WriteLe(pLocator, kZip64LocatorSignature, 4);
        WriteLe(pLocator + 4, records.bZip64 ? 0 : 0xFFFFFFFF, 4);
        WriteLe(pLocator + 8, records.bZip64 ? records.nZip64Record + nShift : UINT64_MAX, 8);
        WriteLe(pLocator + 16, records.bZip64 ? 1 : 0xFFFFFFFF, 4);
        bool bOnlyOne = true;
        for (size_t n = 1; n + 4 <= kZip64LocatorSize; ++n)
            bOnlyOne = bOnlyOne && ReadLe32(pLocator + n) != kZip64LocatorSignature;
        if (bOnlyOne)
            return nShift;
    }
}
