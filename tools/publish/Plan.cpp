#include "Plan.h"

#include "Utf.h"
#include "engine/PackageList.h"
#include "zip/ItemNameRule.h"

#include <zlib.h>

#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <limits>
#include <map>
#include <memory>
#include <set>

namespace {

constexpr size_t kMaxPath = 260;
constexpr uint64_t kMaxFileSize = std::numeric_limits<int32_t>::max();

std::string Lower(std::string str)
{
    for (char& ch : str)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return str;
}

std::string Quoted(const std::string& str)
{
    return "\"" + str + "\"";
}

// The zip layer's own device rule, on the name's UTF-16 units.
bool IsDevice(const std::string& strName)
{
    std::u16string strUnits;
    return Utf8ToUtf16(strName, &strUnits) && IsDeviceName(strUnits.data(), strUnits.size());
}

std::string ComponentProblem(const std::string& strComponent)
{
    if (strComponent.empty())
        return "has an empty folder name";
    if (strComponent == "." || strComponent == "..")
        return "may not contain \".\" or \"..\"";
    for (char ch : strComponent)
        if (static_cast<unsigned char>(ch) < 0x20 || std::string("<>:\"|?*").find(ch) != std::string::npos)
            return "has a character Windows does not allow in file names";
    if (strComponent.back() == '.' || strComponent.back() == ' ')
        return "has a name ending in a dot or blank, which Windows drops";
    if (IsDevice(strComponent))
        return "has a name Windows reads as a device (" + strComponent + ")";
    return std::string();
}

std::vector<std::string> Components(const std::string& strPath)
{
    std::vector<std::string> parts;
    size_t nStart = 0;
    for (;;) {
        size_t nEnd = strPath.find('/', nStart);
        parts.push_back(strPath.substr(nStart, nEnd == std::string::npos ? std::string::npos : nEnd - nStart));
        if (nEnd == std::string::npos)
            return parts;
        nStart = nEnd + 1;
    }
}

// Strict decimal: optional sign, digits, nothing else, within 32 bits.
bool ParseInt32(const std::string& str, int32_t* pn)
{
    size_t i = (!str.empty() && (str[0] == '-' || str[0] == '+')) ? 1 : 0;
    if (i == str.size())
        return false;
    int64_t n = 0;
    for (; i < str.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(str[i])))
            return false;
        n = n * 10 + (str[i] - '0');
        if (n > int64_t{1} << 32)
            return false;
    }
    if (str[0] == '-')
        n = -n;
    if (n < std::numeric_limits<int32_t>::min() || n > std::numeric_limits<int32_t>::max())
        return false;
    *pn = static_cast<int32_t>(n);
    return true;
}

std::string WindowsPath(std::string str)
{
    for (char& ch : str)
        if (ch == '/')
            ch = '\\';
    return str;
}

// Size, CRC-32 and modification time of a client file.
std::string ScanFile(const std::string& strPath, PlannedFile* pFile)
{
    struct stat st = {};
    if (::stat(strPath.c_str(), &st) != 0)
        return "is not in the client folder (" + strPath + ")";
    if (!S_ISREG(st.st_mode))
        return "is not a regular file (" + strPath + ")";
    if (static_cast<uint64_t>(st.st_size) > kMaxFileSize)
        return "is 2 GiB or larger; the installer reads files below 2 GiB";
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(strPath.c_str(), "rb"), std::fclose);
    if (!file)
        return "cannot be read (" + strPath + ")";
    uLong nCrc = crc32(0, Z_NULL, 0);
    uint64_t nSize = 0;
    unsigned char buffer[65536];
    size_t cb = 0;
    while ((cb = std::fread(buffer, 1, sizeof(buffer), file.get())) > 0) {
        nCrc = crc32(nCrc, buffer, static_cast<uInt>(cb));
        nSize += cb;
    }
    if (std::ferror(file.get()))
        return "cannot be read (" + strPath + ")";
    pFile->nSize = nSize;
    pFile->nCrc = static_cast<uint32_t>(nCrc);
    pFile->nModified = st.st_mtime;
    return std::string();
}

// Paths name the same installed file when Windows would take them for one.
std::string FileKey(const std::string& strInstalled)
{
    return Lower(strInstalled);
}

struct MachineKind {
    int32_t nOwnGroup;
    const char* pszName;
};
const MachineKind kMachineKinds[] = {
    {2, "machines with the font 微软雅黑 (groups 1 and 2)"},
    {3, "machines without it (groups 1 and 3)"},
};

struct InstalledFile {
    const PlannedFile* pFile;
    const PlannedPackage* pPackage;
};

std::map<std::string, InstalledFile> InstalledFiles(const std::vector<PlannedPackage>& packages, int32_t nOwnGroup)
{
    std::map<std::string, InstalledFile> files;
    for (const PlannedPackage& package : packages) {
        if (package.nGroup != 1 && package.nGroup != nOwnGroup)
            continue;
        for (const PlannedFile& file : package.files)
            files[FileKey(file.strInstalled)] = {&file, &package};
    }
    return files;
}

// Client files come from below the client folder only.
std::string SourcePathProblem(const std::string& strPath)
{
    if (strPath.empty() || strPath[0] == '/')
        return "source " + Quoted(strPath) + " must be a path below the client folder";
    for (const std::string& strComponent : Components(strPath))
        if (strComponent.empty() || strComponent == "." || strComponent == "..")
            return "source " + Quoted(strPath) + " must be a path below the client folder";
    return std::string();
}

std::string LinePrefix(int nLine)
{
    return std::to_string(nLine) + ": ";
}

}  // namespace

std::string PackageNameProblem(const std::string& strName)
{
    if (strName.empty())
        return "a package needs a name";
    std::u16string strUnits;
    if (!Utf8ToUtf16(strName, &strUnits))
        return "package name " + Quoted(strName) + " is not UTF-8";
    if (strUnits.size() > kMaxPackageNameUnits)
        return "package name " + Quoted(strName) + " has " + std::to_string(strUnits.size()) +
               " UTF-16 units; the installer takes at most 31";
    for (char ch : strName)
        if (!IsPackageNameUnit(static_cast<unsigned char>(ch)))
            return "package name " + Quoted(strName) +
                   " may hold only letters, digits, '-', '_', '.' and '~': it is a URL, a file in the installer's "
                   "temp folder and a field of divozira.txt";
    if (strName == "." || strName == ".." || strName.back() == '.')
        return "package name " + Quoted(strName) + " ends in a dot, which Windows drops";
    if (IsDevice(strName))
        return "package name " + Quoted(strName) + " is a device on Windows";
    static const std::set<std::string> kTaken = {"divozira.txt", "filecrc.txt", "uninstall.exe", "log.txt",
                                                 "release.txt", "release.sig"};
    if (kTaken.count(Lower(strName)))
        return "package name " + Quoted(strName) +
               " is taken: the server's own files and the installer's log.txt in its temp folder";
    return std::string();
}

std::string InstalledPathProblem(const std::string& strPath, bool bVerify)
{
    if (strPath.empty())
        return "a file needs a path";
    std::u16string strUnits;
    if (!Utf8ToUtf16(strPath, &strUnits))
        return Quoted(strPath) + " is not UTF-8";
    if (strPath[0] == '/')
        return Quoted(strPath) + " must be relative to the install folder";
    for (const std::string& strComponent : Components(strPath)) {
        std::string strProblem = ComponentProblem(strComponent);
        if (!strProblem.empty())
            return Quoted(strPath) + " " + strProblem;
    }
    if (bVerify && strPath.find(';') != std::string::npos)
        return Quoted(strPath) + " cannot be listed in filecrc.txt: ';' separates its fields";
    const size_t nUnits = sizeof(kDefaultSetupPath) - 1 + 1 + strUnits.size();
    if (nUnits >= kMaxPath)
        return Quoted(strPath) + " is too long: below " + kDefaultSetupPath + " it takes " + std::to_string(nUnits) +
               " of the 259 units a Windows path may have";
    return std::string();
}

std::string GroupProblem(const std::string& strGroup, int32_t* pnGroup)
{
    if (strGroup.empty())
        return "the package has no group";
    if (!ParseInt32(strGroup, pnGroup))
        return "group " + Quoted(strGroup) + " is not a 32-bit decimal number";
    if (*pnGroup < 1 || *pnGroup > 3)
        return "group " + strGroup +
               " is installed on no machine: 1 is every machine, 2 with the font 微软雅黑, 3 without it";
    return std::string();
}

std::string ParamProblem(const std::string& strParam, int32_t* pnParam)
{
    *pnParam = 0;
    if (strParam.empty() || ParseInt32(strParam, pnParam))
        return std::string();
    return "param " + Quoted(strParam) + " is not a 32-bit decimal number";
}

void CheckMachineKinds(const std::vector<PlannedPackage>& packages, std::vector<std::string>* pErrors)
{
    const std::map<std::string, InstalledFile> kinds[] = {InstalledFiles(packages, kMachineKinds[0].nOwnGroup),
                                                          InstalledFiles(packages, kMachineKinds[1].nOwnGroup)};

    std::set<std::string> checked;
    for (const PlannedPackage& package : packages) {
        for (const PlannedFile& file : package.files) {
            const std::string strKey = FileKey(file.strInstalled);
            if (!file.bVerify || !checked.insert(strKey).second)
                continue;
            const std::string strWhere = LinePrefix(file.nLine) + Quoted(file.strInstalled) + " is listed for verification";
            auto found0 = kinds[0].find(strKey);
            auto found1 = kinds[1].find(strKey);
            if (found0 == kinds[0].end() || found1 == kinds[1].end()) {
                const char* pszMissing = found0 == kinds[0].end() ? kMachineKinds[0].pszName : kMachineKinds[1].pszName;
                pErrors->push_back(strWhere + " but " + pszMissing +
                                   " do not install it: their verification would fail");
                continue;
            }
            const InstalledFile& a = found0->second;
            const InstalledFile& b = found1->second;
            if (a.pFile->nCrc != b.pFile->nCrc) {
                pErrors->push_back(strWhere + " but differs between " + kMachineKinds[0].pszName + ", from " +
                                   a.pPackage->strName + ", and " + kMachineKinds[1].pszName + ", from " +
                                   b.pPackage->strName + ": one kind would fail verification");
                continue;
            }
            if (a.pFile->nCrc == 0)
                pErrors->push_back(strWhere + std::string(" but its CRC-32 is 0") +
                                   (a.pFile->nSize == 0 ? " (the file is empty)" : "") +
                                   ", which filecrc.txt cannot hold: the installer skips such a line");
        }
    }

    for (int k = 0; k < 2; ++k)
        if (!kinds[k].count(FileKey(kClientProgram)))
            pErrors->push_back(std::string(kMachineKinds[k].pszName) + " would install no " + kClientProgram +
                               ", the program the installer registers and starts");
}

std::vector<VerifiedFile> VerifiedFiles(const std::vector<PlannedPackage>& packages)
{
    // Every verified file ends up the same on both kinds once the checks
    // have passed, so either kind gives its CRC.
    const std::map<std::string, InstalledFile> installed = InstalledFiles(packages, kMachineKinds[0].nOwnGroup);
    std::vector<VerifiedFile> lines;
    std::set<std::string> listed;
    for (const PlannedPackage& package : packages) {
        for (const PlannedFile& file : package.files) {
            const std::string strKey = FileKey(file.strInstalled);
            auto found = installed.find(strKey);
            if (!file.bVerify || found == installed.end() || !listed.insert(strKey).second)
                continue;
            lines.push_back({WindowsPath(file.strInstalled), found->second.pFile->nCrc});
        }
    }
    return lines;
}

std::vector<const PlannedFile*> FilesOnMachine(const std::vector<PlannedPackage>& packages, int32_t nOwnGroup)
{
    std::vector<const PlannedFile*> files;
    for (const auto& installed : InstalledFiles(packages, nOwnGroup))
        files.push_back(installed.second.pFile);
    return files;
}

bool MakePlan(const std::vector<DescribedPackage>& described, const std::string& strClientFolder,
              std::vector<PlannedPackage>* pPackages, std::vector<std::string>* pErrors)
{
    pPackages->clear();
    const size_t nErrorsBefore = pErrors->size();
    if (described.empty())
        pErrors->push_back("1: the description names no package; the installer refuses an empty divozira.txt");

    std::set<std::string> names;
    for (const DescribedPackage& source : described) {
        const std::string strAt = LinePrefix(source.nLine);
        PlannedPackage package;
        package.strName = source.strName;
        package.nLine = source.nLine;
        for (const std::string& strProblem : {PackageNameProblem(source.strName),
                                              GroupProblem(source.strGroup, &package.nGroup),
                                              ParamProblem(source.strParam, &package.nParam)})
            if (!strProblem.empty())
                pErrors->push_back(strAt + strProblem);
        if (!names.insert(Lower(source.strName)).second)
            pErrors->push_back(strAt + "package " + Quoted(source.strName) + " is named twice");
        if (source.files.empty())
            pErrors->push_back(strAt + "package " + Quoted(source.strName) + " has no files");

        std::set<std::string> paths;
        for (const DescribedFile& entry : source.files) {
            const std::string strFileAt = LinePrefix(entry.nLine);
            PlannedFile file;
            file.strInstalled = entry.strInstalled;
            file.bVerify = entry.bVerify;
            file.nLine = entry.nLine;
            std::string strProblem = InstalledPathProblem(entry.strInstalled, entry.bVerify);
            if (!strProblem.empty()) {
                pErrors->push_back(strFileAt + strProblem);
                continue;
            }
            if (!paths.insert(FileKey(entry.strInstalled)).second) {
                pErrors->push_back(strFileAt + Quoted(entry.strInstalled) + " is in " + source.strName + " twice");
                continue;
            }
            strProblem = SourcePathProblem(entry.strSource);
            if (!strProblem.empty()) {
                pErrors->push_back(strFileAt + strProblem);
                continue;
            }
            file.strSource = strClientFolder + "/" + entry.strSource;
            strProblem = ScanFile(file.strSource, &file);
            if (!strProblem.empty()) {
                pErrors->push_back(strFileAt + Quoted(entry.strSource) + " " + strProblem);
                continue;
            }
            package.files.push_back(file);
        }
        pPackages->push_back(package);
    }
    if (pErrors->size() == nErrorsBefore)
        CheckMachineKinds(*pPackages, pErrors);
    return pErrors->size() == nErrorsBefore;
}
