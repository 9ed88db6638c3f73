#include "fuzz/CentralDirectory.h"
#include "fuzz/SparseInput.h"
#include "zip/ZipEndRecords.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

// ReadEndRecords against a second reading of its rules, written here step
// by step, and the zip64 locator minizip is handed: its one locator
// signature is its first four bytes.

namespace {

bool HasSignature(const uint8_t* p, uint32_t nSignature)
{
    return ReadLe32(p) == nSignature;
}

// The rules, one candidate at a time. An end record: its 22 bytes and its
// comment in the file, in the last 20 + 22 + 65535 bytes. With a zip64
// locator in the 20 bytes right before it: disk 0 of 1 disk, a zip64 end
// record at the offset the locator gives that ends where the locator
// starts and says so, and every field of the end record either the zip64
// record's or its escape. One disk holding every entry. The directory ends
// where the next record starts, is no earlier than its recorded offset,
// and is exactly the entries' headers.
bool Agrees(const SparseInput& input, uint64_t nEnd, const uint8_t* pEnd, ZipEndRecords* pRecords)
{
    uint64_t end[6] = {ReadLe16(pEnd + 4),  ReadLe16(pEnd + 6),  ReadLe16(pEnd + 8),
                       ReadLe16(pEnd + 10), ReadLe32(pEnd + 12), ReadLe32(pEnd + 16)};
    uint64_t used[6];
    std::memcpy(used, end, sizeof(used));
    ZipEndRecords records;
    records.nEndRecord = nEnd;
    uint64_t nDirectoryEnd = nEnd;
    uint8_t locator[20];
    if (nEnd >= 20 && input.Read(nEnd - 20, locator, 20) && HasSignature(locator, 0x07064b50) &&
        input.Size() - (nEnd - 20) <= 20 + 22 + 0xFFFF) {
        const uint64_t nRecord = ReadLe64(locator + 8);
        uint8_t record[56];
        if (ReadLe32(locator + 4) != 0 || ReadLe32(locator + 16) != 1 || nRecord > nEnd - 20 ||
            nEnd - 20 - nRecord < 56 || !input.Read(nRecord, record, 56) || !HasSignature(record, 0x06064b50) ||
            ReadLe64(record + 4) != nEnd - 20 - nRecord - 12)
            return false;
        const uint64_t zip64[6] = {ReadLe32(record + 16), ReadLe32(record + 20), ReadLe64(record + 24),
                                   ReadLe64(record + 32), ReadLe64(record + 40), ReadLe64(record + 48)};
        const uint64_t escapes[6] = {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
        for (int i = 0; i < 6; ++i)
            if (end[i] != zip64[i] && end[i] != escapes[i])
                return false;
        std::memcpy(used, zip64, sizeof(used));
        records.bZip64 = true;
        records.nZip64Record = nRecord;
        nDirectoryEnd = nRecord;
    }
    const uint64_t cbDirectory = used[4];
    std::vector<CentralEntry> entries;
    if (used[0] != 0 || used[1] != 0 || used[2] != used[3] || cbDirectory > nDirectoryEnd ||
        used[5] > nDirectoryEnd - cbDirectory ||
        !ReadCentralHeaders(input, nDirectoryEnd - cbDirectory, cbDirectory, used[3], &entries))
        return false;
    records.nEntries = used[3];
    *pRecords = records;
    return true;
}

// The first candidate from the end that agrees.
bool Expected(const SparseInput& input, ZipEndRecords* pRecords)
{
    const uint64_t cbFile = input.Size();
    const size_t cbTail = static_cast<size_t>(cbFile < 20 + 22 + 0xFFFF ? cbFile : 20 + 22 + 0xFFFF);
    std::vector<uint8_t> tail(cbTail);
    input.Read(cbFile - cbTail, tail.data(), cbTail);
    for (size_t n = cbTail; n-- > 0;) {
        const uint8_t* pEnd = tail.data() + n;
        if (cbTail - n >= 22 && HasSignature(pEnd, 0x06054b50) && cbTail - n - 22 >= ReadLe16(pEnd + 20) &&
            Agrees(input, cbFile - cbTail + n, pEnd, pRecords))
            return true;
    }
    return false;
}

[[noreturn]] void Finding(const char* pszWhat)
{
    std::fprintf(stderr, "finding: %s\n", pszWhat);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t cb)
{
    const SparseInput input(pData, cb);
    const auto read = [&input](uint64_t nPos, uint8_t* pOut, size_t cbOut) { return input.Read(nPos, pOut, cbOut); };
    ZipEndRecords records;
    ZipEndRecords expected;
    const bool bRead = ReadEndRecords(read, input.Size(), &records);
    if (bRead != Expected(input, &expected))
        Finding(bRead ? "records taken that the rules refuse" : "records refused that the rules take");
    if (!bRead)
        return 0;
    if (records.nEndRecord != expected.nEndRecord || records.bZip64 != expected.bZip64 ||
        records.nZip64Record != expected.nZip64Record || records.nEntries != expected.nEntries)
        Finding("other records than the rules find");

    uint8_t locator[kZip64LocatorSize];
    const uint64_t nShift = MakeZip64Locator(records, locator);
    for (size_t n = 1; n + 4 <= sizeof(locator); ++n)
        if (HasSignature(locator + n, 0x07064b50))
            Finding("a second locator signature in the locator minizip is handed");
    if (nShift == 0 || !HasSignature(locator, 0x07064b50) ||
        ReadLe64(locator + 8) != (records.bZip64 ? records.nZip64Record + nShift : UINT64_MAX))
        Finding("a locator that leads elsewhere");
    return 0;
}
