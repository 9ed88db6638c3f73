#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

constexpr size_t kZipEndRecordSize = 22;
constexpr size_t kZip64LocatorSize = 20;
constexpr size_t kZip64EndRecordSize = 56;

// Reads cb bytes of the archive at nPos; false unless all of them came.
using ArchiveReader = std::function<bool(uint64_t nPos, uint8_t* pBuffer, size_t cb)>;

// Where the records of an archive are, once they agree.
struct ZipEndRecords {
    uint64_t nEndRecord = 0;
    bool bZip64 = false;
    uint64_t nZip64Record = 0;
    uint64_t nEntries = 0;
};

// Finds the end records of an archive of cbFile bytes and checks them
// against each other and against the central directory. Scanning back from
// the end, the first end record whose comment fits in the file and whose
// records agree is taken: bytes after it are not the archive's, and an end
// record that does not agree may be bytes of an earlier one's comment. A
// zip64 locator counts only right before the end record. Bytes before the
// directory's recorded offset are a prefix that shifts every offset.
bool ReadEndRecords(const ArchiveReader& read, uint64_t cbFile, ZipEndRecords* pRecords);

// The zip64 locator minizip is handed after the end record: one that leads
// to the archive's zip64 end record, or, when it has none, one that names a
// disk no reader takes. minizip's scans for signatures never look at the
// first byte of the file (an archive of no entries has its end record
// there), and it takes the last locator signature it finds, so the offset
// the locator holds must not contain one: the archive is shown nShift
// bytes on, at least one, and the result is nShift.
uint64_t MakeZip64Locator(const ZipEndRecords& records, uint8_t* pLocator);
