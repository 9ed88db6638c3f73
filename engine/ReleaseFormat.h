#pragma once

// The signed release of a package server: "release.txt" names every other
// file the installer fetches with its size and SHA-256, and "release.sig"
// is its ECDSA P-256 signature with SHA-256, r then s, 32 bytes each,
// big-endian. The publishing tool writes it and the installer reads it, so
// both compile this one header; it needs nothing of Windows.
//
// release.txt is ASCII, every line ended by LF alone:
//   serial=<1..4294967295>
//   <name>;<size>;<sha256 in 64 lowercase hex digits>     one or more
// Numbers have no sign and no leading zero; names are printable ASCII
// without ';', '/' or '\', each named once. Nothing else is taken: a text
// that is not exactly this is refused whole.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr char kReleaseTextName[] = "release.txt";
constexpr char kReleaseSignatureName[] = "release.sig";
constexpr size_t kReleaseSignatureBytes = 64;
// Far above a release of a few hundred packages; the installer reads no more.
constexpr size_t kMaxReleaseTextBytes = 0x10000;
// Sizes the installer's signed 32-bit download counts can hold.
constexpr uint64_t kMaxReleaseFileSize = 0x7FFFFFFF;

using Sha256Digest = std::array<uint8_t, 32>;
// The publisher's public key: the P-256 point, X then Y, big-endian.
using ReleaseKey = std::array<uint8_t, 64>;

struct ReleaseFile {
    std::string strName;
    uint32_t nSize = 0;
    Sha256Digest sha256 = {};
};

struct Release {
    uint32_t nSerial = 0;
    std::vector<ReleaseFile> files;
};

namespace release_format {

inline bool ReadDecimal(const std::string& strText, uint64_t nMax, uint64_t* pnValue)
{
    if (strText.empty() || strText.size() > 10 || (strText[0] == '0' && strText.size() > 1))
        return false;
    uint64_t nValue = 0;
    for (char ch : strText) {
        if (ch < '0' || ch > '9')
            return false;
        nValue = nValue * 10 + static_cast<uint64_t>(ch - '0');
    }
    if (nValue > nMax)
        return false;
    *pnValue = nValue;
    return true;
}

inline int HexValue(char ch)
{
    if (ch >= '0' && ch <= '9')
        return ch - '0';
    if (ch >= 'a' && ch <= 'f')
        return ch - 'a' + 10;
    return -1;
}

inline bool ReadDigest(const std::string& strText, Sha256Digest* pDigest)
{
    if (strText.size() != pDigest->size() * 2)
        return false;
    for (size_t i = 0; i < pDigest->size(); ++i) {
        const int nHigh = HexValue(strText[2 * i]);
        const int nLow = HexValue(strText[2 * i + 1]);
        if (nHigh < 0 || nLow < 0)
            return false;
        (*pDigest)[i] = static_cast<uint8_t>(nHigh << 4 | nLow);
    }
    return true;
}

inline bool IsNameChar(char ch)
{
    return ch > ' ' && ch < 0x7F && ch != ';' && ch != '/' && ch != '\\';
}

inline bool ReadFileLine(const std::string& strLine, ReleaseFile* pFile)
{
    const size_t nFirst = strLine.find(';');
    const size_t nSecond = nFirst == std::string::npos ? nFirst : strLine.find(';', nFirst + 1);
    if (nSecond == std::string::npos || nFirst == 0)
        return false;
    pFile->strName = strLine.substr(0, nFirst);
    for (char ch : pFile->strName)
        if (!IsNameChar(ch))
            return false;
    uint64_t nSize = 0;
    if (!ReadDecimal(strLine.substr(nFirst + 1, nSecond - nFirst - 1), kMaxReleaseFileSize, &nSize))
        return false;
    pFile->nSize = static_cast<uint32_t>(nSize);
    return ReadDigest(strLine.substr(nSecond + 1), &pFile->sha256);
}

}  // namespace release_format

// False, with *pRelease unspecified, for anything but the exact format.
inline bool ParseRelease(const std::string& strText, Release* pRelease)
{
    using namespace release_format;
    *pRelease = Release();
    if (strText.size() > kMaxReleaseTextBytes || strText.empty() || strText.back() != '\n')
        return false;
    size_t nStart = 0;
    bool bSerial = false;
    while (nStart < strText.size()) {
        const size_t nEnd = strText.find('\n', nStart);
        const std::string strLine = strText.substr(nStart, nEnd - nStart);
        nStart = nEnd + 1;
        if (!bSerial) {
            uint64_t nSerial = 0;
            if (strLine.compare(0, 7, "serial=") != 0 || !ReadDecimal(strLine.substr(7), 0xFFFFFFFF, &nSerial) ||
                nSerial == 0)
                return false;
            pRelease->nSerial = static_cast<uint32_t>(nSerial);
            bSerial = true;
            continue;
        }
        ReleaseFile file;
        if (!ReadFileLine(strLine, &file))
            return false;
        for (const ReleaseFile& other : pRelease->files)
            if (other.strName == file.strName)
                return false;
        pRelease->files.push_back(std::move(file));
    }
    return !pRelease->files.empty();
}

inline std::string FormatRelease(const Release& release)
{
    static const char kHex[] = "0123456789abcdef";
    std::string strText = "serial=" + std::to_string(release.nSerial) + "\n";
    for (const ReleaseFile& file : release.files) {
        strText += file.strName + ";" + std::to_string(file.nSize) + ";";
        for (uint8_t byte : file.sha256) {
            strText += kHex[byte >> 4];
            strText += kHex[byte & 0xF];
        }
        strText += "\n";
    }
    return strText;
}

inline const ReleaseFile* FindReleaseFile(const Release& release, const std::string& strName)
{
    for (const ReleaseFile& file : release.files)
        if (file.strName == strName)
            return &file;
    return nullptr;
}
