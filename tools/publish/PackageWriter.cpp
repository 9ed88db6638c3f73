#include "PackageWriter.h"

#include <zip.h>
#include <zlib.h>

#include <cstdio>
#include <ctime>
#include <limits>
#include <memory>

namespace {

constexpr uLong kVersionMadeByFat = 20;
constexpr uLong kFlagUtf8 = 0x0800;
constexpr uLong kAttributeArchive = 0x20;

bool HasNonAscii(const std::string& str)
{
    for (char ch : str)
        if (static_cast<unsigned char>(ch) >= 0x80)
            return true;
    return false;
}

// Streams the file into the open entry, checking it is still what the plan
// read.
bool WriteEntryData(zipFile zf, const PlannedFile& file, std::string* pError)
{
    std::unique_ptr<FILE, int (*)(FILE*)> in(std::fopen(file.strSource.c_str(), "rb"), std::fclose);
    if (!in) {
        *pError = "cannot read " + file.strSource;
        return false;
    }
    uLong nCrc = crc32(0, Z_NULL, 0);
    uint64_t nSize = 0;
    unsigned char buffer[65536];
    size_t cb = 0;
    while ((cb = std::fread(buffer, 1, sizeof(buffer), in.get())) > 0) {
        nCrc = crc32(nCrc, buffer, static_cast<uInt>(cb));
        nSize += cb;
        if (zipWriteInFileInZip(zf, buffer, static_cast<unsigned>(cb)) != ZIP_OK) {
            *pError = "cannot write the entry " + file.strInstalled;
            return false;
        }
    }
    if (std::ferror(in.get()) || nCrc != file.nCrc || nSize != file.nSize) {
        *pError = file.strSource + " changed while it was published";
        return false;
    }
    return true;
}

}  // namespace

uint32_t DosStamp(int64_t nUnixTime)
{
    std::time_t t = static_cast<std::time_t>(nUnixTime);
    std::tm local = {};
    if (!localtime_r(&t, &local) || local.tm_year < 80)
        return (0u << 25) | (1u << 21) | (1u << 16);  // 1980-01-01 00:00:00
    if (local.tm_year > 207)
        return (127u << 25) | (12u << 21) | (31u << 16) | (23u << 11) | (59u << 5) | 29u;
    return (static_cast<uint32_t>(local.tm_year - 80) << 25) | (static_cast<uint32_t>(local.tm_mon + 1) << 21) |
           (static_cast<uint32_t>(local.tm_mday) << 16) | (static_cast<uint32_t>(local.tm_hour) << 11) |
           (static_cast<uint32_t>(local.tm_min) << 5) | static_cast<uint32_t>(local.tm_sec / 2);
}

std::vector<unsigned char> UtExtraRecord(int64_t nUnixTime)
{
    if (nUnixTime < std::numeric_limits<int32_t>::min() || nUnixTime > std::numeric_limits<int32_t>::max())
        return {};
    const uint32_t n = static_cast<uint32_t>(static_cast<int32_t>(nUnixTime));
    return {'U', 'T', 5, 0, 1, static_cast<unsigned char>(n), static_cast<unsigned char>(n >> 8),
            static_cast<unsigned char>(n >> 16), static_cast<unsigned char>(n >> 24)};
}

bool WritePackage(const PlannedPackage& package, const std::string& strArchive, std::string* pError)
{
    zipFile zf = zipOpen64(strArchive.c_str(), APPEND_STATUS_CREATE);
    if (!zf) {
        *pError = "cannot create " + strArchive;
        return false;
    }
    bool bOk = true;
    for (const PlannedFile& file : package.files) {
        zip_fileinfo info = {};
        info.dosDate = DosStamp(file.nModified);
        info.external_fa = kAttributeArchive;
        const std::vector<unsigned char> extra = UtExtraRecord(file.nModified);
        const uLong nFlags = HasNonAscii(file.strInstalled) ? kFlagUtf8 : 0;
        if (zipOpenNewFileInZip4_64(zf, file.strInstalled.c_str(), &info, extra.empty() ? nullptr : extra.data(),
                                    static_cast<uInt>(extra.size()), extra.empty() ? nullptr : extra.data(),
                                    static_cast<uInt>(extra.size()), nullptr, Z_DEFLATED,
                                    Z_BEST_COMPRESSION, 0, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY, nullptr, 0,
                                    kVersionMadeByFat, nFlags, 0) != ZIP_OK) {
            *pError = "cannot add " + file.strInstalled + " to " + strArchive;
            bOk = false;
            break;
        }
        bOk = WriteEntryData(zf, file, pError);
        if (zipCloseFileInZip(zf) != ZIP_OK && bOk) {
            *pError = "cannot finish the entry " + file.strInstalled;
            bOk = false;
        }
        if (!bOk)
            break;
    }
    if (zipClose(zf, nullptr) != ZIP_OK && bOk) {
        *pError = "cannot finish " + strArchive;
        bOk = false;
    }
    return bOk;
}
