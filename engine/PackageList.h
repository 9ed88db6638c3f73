#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

constexpr int kPackageNameUnits = 32;

// One parsed line of the package list.
struct PackageEntry {
    wchar_t szName[kPackageNameUnits];
    int32_t nParam;
    int32_t nGroup;
};

// Splits at the separator and keeps the pieces that are not empty. A text
// that starts with the separator yields no pieces at all.
int SplitString(const std::wstring& strText, wchar_t chSeparator, std::vector<std::wstring>* pvecPieces);

// The text of a server list file in a download: UTF-16LE from byte 2 (the
// byte-order mark is skipped unread) to the first zero unit or the end of
// the data, whichever comes first.
std::wstring ServerListText(const uint8_t* pData, int32_t nSize);

// Gives the fields of each line of a server list, in order: split at CR,
// CR and LF trimmed from both ends, empty lines left out, fields split at
// ";". One line's fields are made at a time: a list of thousands of lines
// held split at once costs megabytes of small blocks under Wine's heap.
void ForEachServerListLine(const std::wstring& strText,
                           const std::function<void(const std::vector<std::wstring>& fields)>& use);

// Decimal fields as the C library reads them: leading white space, sign,
// digits up to the first other character, 0 without digits. Values beyond
// the type's range saturate; the field may be of any length.
int32_t ReadListInt(const std::wstring& strField);
uint32_t ReadListUnsigned(const std::wstring& strField);

// The units a package name may hold: ASCII letters, digits and "-._~", the
// characters a URL takes as they are. Anything else would have to be
// escaped, or would ask the server for another resource (as "?", "#" and
// "%" do). The publishing tool takes the same.
constexpr bool IsPackageNameUnit(char32_t ch)
{
    return (ch >= U'a' && ch <= U'z') || (ch >= U'A' && ch <= U'Z') || (ch >= U'0' && ch <= U'9') || ch == U'-' ||
           ch == U'.' || ch == U'_' || ch == U'~';
}

// Whether a package name can only name the same file in the temp folder
// and on the server: only package-name units, no dot at its end (which
// Windows drops), no device name.
bool IsPlainFileName(const std::wstring& strName);

// Refills the vector from the list text: one entry for every line of
// exactly three fields whose name fits szName (at most 31 units) and is a
// plain file name; other lines are skipped. Returns the number of entries.
int ParsePackageList(const std::wstring& strText, std::vector<PackageEntry>* pvecPackages);

// The package groups a machine takes: group 1 always, then group 2 where
// the font "微软雅黑" is installed, else group 3. An entry is installed
// exactly when its group is in the set.
std::set<int> PackageGroupsFor(bool bYaHeiInstalled);
