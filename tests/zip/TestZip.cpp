#include "tests/zip/TestZip.h"

#include <zip.h>
#include <zlib.h>
// After zip.h: it needs the declarations that header brings.
#include <iowin32.h>

#include <cstring>

bool WriteTestZip(const std::wstring& strPath, const std::vector<TestZipEntry>& entries)
{
    zlib_filefunc64_def fileFuncs;
    fill_win32_filefunc64W(&fileFuncs);
    zipFile zf = zipOpen2_64(strPath.c_str(), APPEND_STATUS_CREATE, nullptr, &fileFuncs);
    if (!zf)
        return false;
    bool bOk = true;
    for (const TestZipEntry& e : entries) {
        zip_fileinfo fi = {};
        fi.dosDate = e.nDosStamp;
        fi.external_fa = e.nExternalAttributes;
        const uLong nVersionMadeBy = (static_cast<uLong>(e.nHost) << 8) | 20;
        int nLevel = e.nMethod == 8 ? Z_DEFAULT_COMPRESSION : 0;
        int rc = zipOpenNewFileInZip4_64(zf, e.strName.c_str(), &fi, e.localExtra.empty() ? nullptr : e.localExtra.data(),
                                         static_cast<uInt>(e.localExtra.size()), nullptr, 0, nullptr, e.nMethod, nLevel,
                                         e.bRaw ? 1 : 0, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY, nullptr, 0, nVersionMadeBy,
                                         e.nFlags, 0);
        if (rc == ZIP_OK && !e.strData.empty())
            rc = zipWriteInFileInZip(zf, e.strData.data(), static_cast<unsigned>(e.strData.size()));
        if (rc == ZIP_OK)
            rc = e.bRaw ? zipCloseFileInZipRaw(zf, e.nRawSize, e.nRawCrc) : zipCloseFileInZip(zf);
        bOk = bOk && rc == ZIP_OK;
    }
    return zipClose(zf, nullptr) == ZIP_OK && bOk;
}

std::vector<uint8_t> UtRecord(uint8_t nFlags, const std::vector<int32_t>& times, int cbDeclared)
{
    std::vector<uint8_t> rec = {'U', 'T', 0, 0, nFlags};
    for (int32_t t : times)
        for (int i = 0; i < 4; ++i)
            rec.push_back(static_cast<uint8_t>(static_cast<uint32_t>(t) >> (8 * i)));
    PutLe16(&rec, 2, static_cast<uint16_t>(cbDeclared >= 0 ? cbDeclared : static_cast<int>(rec.size() - 4)));
    return rec;
}

std::vector<uint8_t> ExtraRecord(char chId0, char chId1, size_t cbData)
{
    std::vector<uint8_t> rec = {static_cast<uint8_t>(chId0), static_cast<uint8_t>(chId1), 0, 0};
    PutLe16(&rec, 2, static_cast<uint16_t>(cbData));
    rec.resize(4 + cbData, 0x55);
    return rec;
}

namespace {

uint32_t GetLe(const std::vector<uint8_t>& b, size_t n, int cb)
{
    uint32_t v = 0;
    for (int i = cb - 1; i >= 0; --i)
        v = (v << 8) | b[n + i];
    return v;
}

}  // namespace

long CentralHeaderOffset(const std::vector<uint8_t>& archive, int nIndex)
{
    // The end record is the last "PK\5\6" (the tests write no comment).
    if (archive.size() < 22)
        return -1;
    size_t nEnd = archive.size() - 22;
    if (GetLe(archive, nEnd, 4) != 0x06054b50)
        return -1;
    size_t n = GetLe(archive, nEnd + 16, 4);
    for (int i = 0; n + 46 <= archive.size() && GetLe(archive, n, 4) == 0x02014b50; ++i) {
        if (i == nIndex)
            return static_cast<long>(n);
        n += 46 + GetLe(archive, n + 28, 2) + GetLe(archive, n + 30, 2) + GetLe(archive, n + 32, 2);
    }
    return -1;
}

long LocalHeaderOffset(const std::vector<uint8_t>& archive, int nIndex)
{
    long n = CentralHeaderOffset(archive, nIndex);
    return n < 0 ? -1 : static_cast<long>(GetLe(archive, static_cast<size_t>(n) + 42, 4));
}

void PutLe16(std::vector<uint8_t>* pBytes, size_t nOffset, uint16_t n)
{
    (*pBytes)[nOffset] = static_cast<uint8_t>(n);
    (*pBytes)[nOffset + 1] = static_cast<uint8_t>(n >> 8);
}

void PutLe32(std::vector<uint8_t>* pBytes, size_t nOffset, uint32_t n)
{
    for (int i = 0; i < 4; ++i)
        (*pBytes)[nOffset + i] = static_cast<uint8_t>(n >> (8 * i));
}

namespace {

std::vector<uint8_t> Concat(std::vector<uint8_t> bytes, const std::string& strName, const std::string& strMore)
{
    bytes.insert(bytes.end(), strName.begin(), strName.end());
    bytes.insert(bytes.end(), strMore.begin(), strMore.end());
    return bytes;
}

uint32_t StringCrc(const std::string& str)
{
    return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(str.data()), static_cast<uInt>(str.size())));
}

}  // namespace

std::vector<uint8_t> StoredLocalEntry(const std::string& strName, const std::string& strData)
{
    std::vector<uint8_t> header(30, 0);
    PutLe32(&header, 0, 0x04034b50);
    PutLe16(&header, 4, 10);
    PutLe32(&header, 14, StringCrc(strData));
    PutLe32(&header, 18, static_cast<uint32_t>(strData.size()));
    PutLe32(&header, 22, static_cast<uint32_t>(strData.size()));
    PutLe16(&header, 26, static_cast<uint16_t>(strName.size()));
    return Concat(header, strName, strData);
}

std::vector<uint8_t> StoredCentralHeader(const std::string& strName, const std::string& strData, uint32_t nLocal,
                                         const std::string& strComment)
{
    std::vector<uint8_t> header(46, 0);
    PutLe32(&header, 0, 0x02014b50);
    PutLe16(&header, 4, 20);
    PutLe16(&header, 6, 10);
    PutLe32(&header, 16, StringCrc(strData));
    PutLe32(&header, 20, static_cast<uint32_t>(strData.size()));
    PutLe32(&header, 24, static_cast<uint32_t>(strData.size()));
    PutLe16(&header, 28, static_cast<uint16_t>(strName.size()));
    PutLe16(&header, 32, static_cast<uint16_t>(strComment.size()));
    PutLe32(&header, 42, nLocal);
    return Concat(header, strName, strComment);
}

std::vector<uint8_t> Zip64EndRecords(uint64_t nOffset, uint64_t nEntries, uint64_t cbDirectory, uint64_t nDirectory)
{
    std::vector<uint8_t> bytes(56 + 20, 0);
    auto put64 = [&bytes](size_t n, uint64_t v) {
        PutLe32(&bytes, n, static_cast<uint32_t>(v));
        PutLe32(&bytes, n + 4, static_cast<uint32_t>(v >> 32));
    };
    PutLe32(&bytes, 0, 0x06064b50);
    put64(4, 44);
    PutLe16(&bytes, 12, 45);
    PutLe16(&bytes, 14, 45);
    put64(24, nEntries);
    put64(32, nEntries);
    put64(40, cbDirectory);
    put64(48, nDirectory);
    PutLe32(&bytes, 56, 0x07064b50);
    put64(64, nOffset);
    PutLe32(&bytes, 72, 1);
    return bytes;
}

std::vector<uint8_t> WithZip64EndRecords(std::vector<uint8_t> archive, uint64_t nZip64Entries, uint16_t nEndEntries)
{
    const size_t nEnd = archive.size() - 22;
    const uint32_t cbDirectory = GetLe(archive, nEnd + 12, 4);
    const uint32_t nDirectory = GetLe(archive, nEnd + 16, 4);
    const std::vector<uint8_t> records = Zip64EndRecords(nEnd, nZip64Entries, cbDirectory, nDirectory);
    archive.insert(archive.begin() + static_cast<long>(nEnd), records.begin(), records.end());
    const size_t nMoved = nEnd + records.size();
    PutLe16(&archive, nMoved + 8, nEndEntries);
    PutLe16(&archive, nMoved + 10, nEndEntries);
    PutLe32(&archive, nMoved + 12, 0xFFFFFFFF);
    PutLe32(&archive, nMoved + 16, 0xFFFFFFFF);
    return archive;
}
