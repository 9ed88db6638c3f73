#include "ServerLists.h"

#include "Utf.h"

std::string ServerListBytes(const std::vector<std::string>& lines)
{
    std::u16string strText;
    for (const std::string& strLine : lines) {
        std::u16string strUnits;
        // Every line is made of checked UTF-8.
        Utf8ToUtf16(strLine, &strUnits);
        strText += strUnits + u"\r\n";
    }
    return "\xFF\xFE" + Utf16LeBytes(strText);
}

std::vector<std::string> PackageListLines(const std::vector<PlannedPackage>& packages)
{
    std::vector<std::string> lines;
    for (const PlannedPackage& package : packages)
        lines.push_back(package.strName + ";" + std::to_string(package.nParam) + ";" + std::to_string(package.nGroup));
    return lines;
}

std::vector<std::string> CrcListLines(const std::vector<VerifiedFile>& files)
{
    std::vector<std::string> lines;
    for (const VerifiedFile& file : files)
        lines.push_back(file.strPath + ";" + std::to_string(file.nCrc));
    return lines;
}
