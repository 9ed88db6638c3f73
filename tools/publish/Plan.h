#pragma once

#include "Description.h"

#include <cstdint>
#include <string>
#include <vector>

// What the installer can take, and the server tree that follows from a
// description and the client folder.

constexpr size_t kMaxPackageNameUnits = 31;
constexpr char kClientProgram[] = "iKVLRemote.exe";
// The installer's own default folder; every installed path must fit
// MAX_PATH below it.
constexpr char kDefaultSetupPath[] = "C:\\Brivex Client";

struct PlannedFile {
    std::string strInstalled;  // "/" separated
    std::string strSource;     // full path of the client file
    uint64_t nSize = 0;
    uint32_t nCrc = 0;
    int64_t nModified = 0;  // Unix time
    bool bVerify = false;
    int nLine = 0;
};

struct PlannedPackage {
    std::string strName;
    int32_t nGroup = 0;
    int32_t nParam = 0;
    int nLine = 0;
    std::vector<PlannedFile> files;
};

// One line of filecrc.txt: the path with "\" separators.
struct VerifiedFile {
    std::string strPath;
    uint32_t nCrc = 0;
};

// Why a name cannot be a package on the server (empty when it can): it is
// the archive's URL below the base URL, its file in the installer's temp
// folder and a field of divozira.txt.
std::string PackageNameProblem(const std::string& strName);

// Why a path cannot be installed below the install folder or, when
// verified, listed in filecrc.txt (empty when it can).
std::string InstalledPathProblem(const std::string& strPath, bool bVerify);

// Groups the installer takes: 1 on every machine, 2 where the font
// "微软雅黑" is installed, 3 where it is not.
std::string GroupProblem(const std::string& strGroup, int32_t* pnGroup);
std::string ParamProblem(const std::string& strParam, int32_t* pnParam);

// The checks across packages, on files whose CRCs are known: every file
// listed for verification must end up with the same non-zero CRC on both
// kinds of machine, and both kinds must install the client program.
void CheckMachineKinds(const std::vector<PlannedPackage>& packages, std::vector<std::string>* pErrors);

// The filecrc.txt lines, in the order the description first lists each
// verified path, with the CRC the installed file ends up with.
std::vector<VerifiedFile> VerifiedFiles(const std::vector<PlannedPackage>& packages);

// The files a machine of the group (2 or 3) ends up with, by path:
// packages unpack in list order, so a later one replaces an earlier one's
// file.
std::vector<const PlannedFile*> FilesOnMachine(const std::vector<PlannedPackage>& packages, int32_t nOwnGroup);

// Checks the description against the installer's rules and reads every
// client file's size, CRC-32 and time. Refusals are appended to *pErrors
// as "LINE: message"; false when there was any.
bool MakePlan(const std::vector<DescribedPackage>& described, const std::string& strClientFolder,
              std::vector<PlannedPackage>* pPackages, std::vector<std::string>* pErrors);
