#include "fuzz/CentralDirectory.h"
#include "fuzz/SparseInput.h"
#include "fuzz/win32/FakeVolume.h"
#include "zip/ItemPath.h"
#include "zip/Zip.h"
#include "zip/ZipEndRecords.h"
#include "zip/ZipItemName.h"

#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <map>

// An archive unpacked as the install run unpacks a package, into a folder
// of an in-memory drive that Windows' names rule (win32/FakeVolume.h),
// with minizip reading it through the layer's own file functions and the
// files written kept open until the end, as the run keeps them. Besides
// the sanitizers: nothing outside the folder is created or changed (the
// drive aborts), every entry the layer reads is the one in the directory
// its end records checked, a file reported written has the size and CRC-32
// of its central header, and no two names the layer calls separate reach
// the same file.

namespace {

// The files written, kept open by the drive's name for them.
class CKeptFiles : public IWrittenFiles {
public:
    void Keep(const std::wstring& strPath, ScopedFile file) override { m_files[Key(strPath)] = std::move(file); }
    void LetGo(const std::wstring& strPath) override { m_files.erase(Key(strPath)); }
    void GiveUp() override { m_files.clear(); }

private:
    static std::wstring Key(const std::wstring& strPath)
    {
        std::wstring strKey;
        bool bDevice = false;
        FakeVolume::Key(strPath, &strKey, &bDevice);
        return strKey;
    }

    std::map<std::wstring, ScopedFile> m_files;
};

// Enough entries for every path of the layer; more only cost time.
constexpr int kMaxEntries = 64;

[[noreturn]] void Finding(const char* pszWhat, int nIndex)
{
    std::fprintf(stderr, "finding: entry %d: %s\n", nIndex, pszWhat);
    std::abort();
}

// The headers of the directory the end records lead to.
std::vector<CentralEntry> CheckedDirectory(const SparseInput& input, const ZipEndRecords& records)
{
    uint8_t record[56];
    uint64_t cbDirectory = 0;
    uint64_t nDirectoryEnd = records.nEndRecord;
    if (records.bZip64) {
        input.Read(records.nZip64Record, record, 56);
        cbDirectory = ReadLe64(record + 40);
        nDirectoryEnd = records.nZip64Record;
    } else {
        input.Read(records.nEndRecord, record, 22);
        cbDirectory = ReadLe32(record + 12);
    }
    std::vector<CentralEntry> entries;
    if (!ReadCentralHeaders(input, nDirectoryEnd - cbDirectory, cbDirectory, records.nEntries, &entries))
        Finding("the checked directory is not its entries' headers", -1);
    return entries;
}

std::wstring ExpectedName(const CentralEntry& entry)
{
    wchar_t szName[MAX_PATH];
    if (!ConvertItemName(entry.strName.data(), entry.strName.size(), (entry.nFlags & 0x0800) != 0, CP_ACP, szName))
        return L"";
    CleanItemName(szName);
    return szName;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t cb)
{
    const SparseInput input(pData, cb);
    FakeVolume& volume = FakeVolume::Current();
    const std::wstring strTarget = L"C:\\Brivex Client";
    volume.Reset(strTarget, L"C:\\temp\\core.zip", &input);
    {
        CKeptFiles kept;
        ScopedZip zip(OpenZip(L"C:\\temp\\core.zip", nullptr));
        if (!zip)
            return 0;
        ZipEndRecords records;
        const auto read = [&input](uint64_t nPos, uint8_t* pOut, size_t cbOut) {
            return input.Read(nPos, pOut, cbOut);
        };
        if (!ReadEndRecords(read, input.Size(), &records))
            Finding("an archive opened whose end records do not agree", -1);
        const std::vector<CentralEntry> central = CheckedDirectory(input, records);

        KeepZipItemFiles(zip.Get(), &kept);
        SetZipTargetFolder(zip.Get(), strTarget.c_str());
        ZipItemInfo info;
        QueryZipItem(zip.Get(), -1, &info);
        if (static_cast<size_t>(info.nIndex) != central.size())
            Finding("the entry count is not the checked directory's", -1);

        // As the install run: the names up to the first that cannot be read.
        std::vector<std::wstring> names;
        std::vector<bool> folders;
        for (int i = 0; i < info.nIndex && i < kMaxEntries; ++i) {
            if (QueryZipItem(zip.Get(), i, &info) != ZIPERR_NONE)
                break;
            const CentralEntry& entry = central[static_cast<size_t>(i)];
            if (info.szName != ExpectedName(entry) ||
                (entry.cbUncompressed != 0xFFFFFFFF && info.nUncompressedSize != entry.cbUncompressed))
                Finding("not the entry of the checked directory", i);
            names.push_back(info.szName);
            folders.push_back((info.dwAttributes & kZipAttrFolder) != 0);
        }

        const bool bSeparate = AreSeparateTargets(names);
        std::map<std::wstring, int> writers;
        for (size_t i = 0; i < names.size(); ++i) {
            const int nIndex = static_cast<int>(i);
            if (names[i].empty() || UnzipItem(zip.Get(), nIndex, names[i].c_str()) != ZIPERR_NONE || folders[i])
                continue;
            const std::wstring strPath = strTarget + L"/" + names[i];
            const FakeVolume::Node* pFile = volume.Find(strPath);
            const CentralEntry& entry = central[i];
            if (!pFile || pFile->bFolder ||
                (entry.cbUncompressed != 0xFFFFFFFF && pFile->data.size() != entry.cbUncompressed) ||
                crc32(0, pFile->data.data(), static_cast<uInt>(pFile->data.size())) != entry.nCrc)
                Finding("the file written is not the entry's size and CRC-32", nIndex);
            std::wstring strKey;
            bool bDevice = false;
            FakeVolume::Key(strPath, &strKey, &bDevice);
            if (bSeparate && !writers.emplace(strKey, nIndex).second)
                Finding("a name called separate reaches the file of another", nIndex);
        }
    }
    if (volume.OpenHandles() != 0)
        Finding("a handle left open", -1);
    return 0;
}
