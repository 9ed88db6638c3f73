#pragma once

#include <string>

// A code-signing certificate for Authenticode; an empty strPkcs12 signs
// nothing.
struct CodeSignSettings {
    std::string strPkcs12;
    std::string strPasswordFile;  // empty: the PKCS#12 file has no password
};

// Signs the Windows program in place with osslsigncode: SHA-256, no
// timestamp server. A signature it already carries is replaced, so a
// program signed by the build comes out as one signed here. False with a
// message that holds osslsigncode's output.
bool SignProgram(const std::string& strPath, const CodeSignSettings& settings, std::string* pError);
