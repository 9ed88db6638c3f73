#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

constexpr size_t kZipEndRecordSize = 22;
constexpr size_t kZip64LocatorSize = 20;
constexpr size_t kZip64EndRecordSize = 56;

// What an end record or a zip64 end record says, widened.
struct ZipEndFields {
    uint64_t nDisk = 0;
    uint64_t nDirectoryDisk = 0;
    uint64_t nDiskEntries = 0;
    uint64_t nEntries = 0;
    uint64_t cbDirectory = 0;
    uint64_t nDirectoryOffset = 0;
};

// Finds the end record in the last cbTail bytes of an archive: the last
// signature whose comment ends where the file ends. *pnAt is its offset in
// the tail.
bool FindEndRecord(const uint8_t* pTail, size_t cbTail, size_t* pnAt, ZipEndFields* pFields);

// One disk, holding all the entries. With a zip64 end record, each field of
// the end record is the zip64 record's value or the escape that sends a
// reader to it.
bool EndRecordsAgree(const ZipEndFields& end, const ZipEndFields* pZip64);

// True when the bytes are nEntries central headers and nothing else.
bool DirectoryHoldsEntries(const uint8_t* pDirectory, size_t cbDirectory, uint64_t nEntries);

// Where the records of an archive are, once they agree.
struct ZipEndRecords {
    uint64_t nEndRecord = 0;
    bool bZip64 = false;
    uint64_t nZip64Record = 0;
    uint64_t nEntries = 0;
};

// Reads the end records and the central directory through the handle and
// checks them against each other.
bool ReadEndRecords(HANDLE hArchive, ZipEndRecords* pRecords);

// A zip64 locator that leads to the archive's zip64 end record, or, when it
// has none, one that names a disk no reader takes.
void MakeZip64Locator(const ZipEndRecords& records, uint8_t* pLocator);
