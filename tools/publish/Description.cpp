#include "Description.h"

#include <algorithm>

namespace {

std::string Trim(const std::string& str)
{
    const char* const kBlanks = " \t\r\n";
    size_t nFirst = str.find_first_not_of(kBlanks);
    if (nFirst == std::string::npos)
        return std::string();
    return str.substr(nFirst, str.find_last_not_of(kBlanks) - nFirst + 1);
}

std::string ForwardSlashes(std::string str)
{
    std::replace(str.begin(), str.end(), '\\', '/');
    return str;
}

}  // namespace

bool ParseDescription(const std::string& strText, std::vector<DescribedPackage>* pPackages,
                      std::vector<std::string>* pErrors)
{
    pPackages->clear();
    const size_t nErrorsBefore = pErrors->size();
    auto fail = [pErrors](int nLine, const std::string& strMessage) {
        pErrors->push_back(std::to_string(nLine) + ": " + strMessage);
    };

    size_t nPos = 0;
    // A byte-order mark some editors put first.
    if (strText.compare(0, 3, "\xEF\xBB\xBF") == 0)
        nPos = 3;
    for (int nLine = 1; nPos <= strText.size(); ++nLine) {
        size_t nEnd = strText.find('\n', nPos);
        if (nEnd == std::string::npos)
            nEnd = strText.size();
        const std::string strLine = Trim(strText.substr(nPos, nEnd - nPos));
        nPos = nEnd + 1;

        if (strLine.empty() || strLine[0] == '#' || strLine[0] == ';')
            continue;
        if (strLine[0] == '[') {
            if (strLine.back() != ']') {
                fail(nLine, "a package line is \"[name]\"");
                continue;
            }
            DescribedPackage package;
            package.strName = strLine.substr(1, strLine.size() - 2);
            package.nLine = nLine;
            pPackages->push_back(package);
            continue;
        }

        const size_t nEquals = strLine.find('=');
        if (nEquals == std::string::npos) {
            fail(nLine, "expected \"key = value\" or \"[package name]\"");
            continue;
        }
        const std::string strKey = Trim(strLine.substr(0, nEquals));
        const std::string strValue = Trim(strLine.substr(nEquals + 1));
        if (pPackages->empty()) {
            fail(nLine, "\"" + strKey + "\" before the first [package]");
            continue;
        }
        DescribedPackage& package = pPackages->back();
        if (strKey == "group") {
            package.strGroup = strValue;
        } else if (strKey == "param") {
            package.strParam = strValue;
        } else if (strKey == "file" || strKey == "verify") {
            DescribedFile file;
            file.bVerify = strKey == "verify";
            file.nLine = nLine;
            const size_t nFrom = strValue.find('<');
            file.strInstalled = ForwardSlashes(Trim(strValue.substr(0, nFrom)));
            file.strSource =
                nFrom == std::string::npos ? file.strInstalled : ForwardSlashes(Trim(strValue.substr(nFrom + 1)));
            package.files.push_back(file);
        } else {
            fail(nLine, "unknown key \"" + strKey + "\" (group, param, file, verify)");
        }
    }
    return pErrors->size() == nErrorsBefore;
}
