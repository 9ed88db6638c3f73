#pragma once

#include <string>
#include <vector>

// A client file as the description names it. Paths are UTF-8 with "/"
// separators (a "\" is read as one).
struct DescribedFile {
    std::string strInstalled;  // below the install folder
    std::string strSource;     // below the client folder
    bool bVerify = false;      // listed in filecrc.txt
    int nLine = 0;
};

struct DescribedPackage {
    std::string strName;
    std::string strGroup;  // as written; checked when the plan is made
    std::string strParam;
    int nLine = 0;
    std::vector<DescribedFile> files;
};

// The description file: one section per package, in list order.
//
//   # comment
//   [core.zip]
//   group = 1
//   param = 1                      (optional, 0 when absent)
//   verify = iKVLRemote.exe        (installed and listed in filecrc.txt)
//   file = config/ZUZ.System.config
//   file = skin/font.ini < skins/yahei.ini   (installed path < source path)
//
// Syntax errors are appended to *pErrors as "LINE: message"; false when
// there was any.
bool ParseDescription(const std::string& strText, std::vector<DescribedPackage>* pPackages,
                      std::vector<std::string>* pErrors);
