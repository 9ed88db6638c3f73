#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One entry of an archive made by a test. Data are compressed by the
// writer, or with bRaw written as they are with the given CRC and size.
struct TestZipEntry {
    std::string strName;  // stored bytes
    std::string strData;
    int nMethod = 8;
    uint8_t nHost = 0;  // high byte of version-made-by
    uint32_t nExternalAttributes = 0;
    uint32_t nDosStamp = 0x52CF6B8F;  // 2021-06-15 13:28:30 local
    std::vector<uint8_t> localExtra;
    uint32_t nFlags = 0;  // general-purpose bits
    bool bRaw = false;
    uint32_t nRawCrc = 0;
    uint32_t nRawSize = 0;
};

bool WriteTestZip(const std::wstring& strPath, const std::vector<TestZipEntry>& entries);

// A "UT" extra record: flag byte and times as given; cbDeclared replaces
// the data length it announces when not negative.
std::vector<uint8_t> UtRecord(uint8_t nFlags, const std::vector<int32_t>& times, int cbDeclared = -1);
// Any other extra record of the given id and data size.
std::vector<uint8_t> ExtraRecord(char chId0, char chId1, size_t cbData);

// Offset of the local header of entry nIndex in an archive's bytes, found
// from its central-directory record; -1 when absent.
long LocalHeaderOffset(const std::vector<uint8_t>& archive, int nIndex);
long CentralHeaderOffset(const std::vector<uint8_t>& archive, int nIndex);
void PutLe16(std::vector<uint8_t>* pBytes, size_t nOffset, uint16_t n);
void PutLe32(std::vector<uint8_t>* pBytes, size_t nOffset, uint32_t n);

// The local header of a stored entry followed by its data, and its central
// header pointing to it at nLocal.
std::vector<uint8_t> StoredLocalEntry(const std::string& strName, const std::string& strData);
std::vector<uint8_t> StoredCentralHeader(const std::string& strName, const std::string& strData, uint32_t nLocal,
                                         const std::string& strComment);

// A zip64 end record placed at nOffset, for nEntries entries in cbDirectory
// bytes at nDirectory, and the locator after it that points to it.
std::vector<uint8_t> Zip64EndRecords(uint64_t nOffset, uint64_t nEntries, uint64_t cbDirectory, uint64_t nDirectory);
// An archive without a comment in zip64 form: its directory described by
// zip64 end records counting nZip64Entries, and its end record counting
// nEndEntries, with size and offset escaped.
std::vector<uint8_t> WithZip64EndRecords(std::vector<uint8_t> archive, uint64_t nZip64Entries, uint16_t nEndEntries);
