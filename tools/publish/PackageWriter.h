#pragma once

#include "Plan.h"

#include <cstdint>
#include <string>
#include <vector>

// The entry time as a DOS stamp in the local time zone (the installer reads
// it as its own local time), held to the years a stamp can express.
uint32_t DosStamp(int64_t nUnixTime);

// A "UT" extra record with the modification time in UTC, so the
// installed file gets the exact time on every time zone; empty when the
// time does not fit its 32 bits.
std::vector<unsigned char> UtExtraRecord(int64_t nUnixTime);

// Writes the package's files, in order, as deflated entries with FAT
// attributes "archive" only (a read-only file would stay behind when the
// installer clears the folder). Names with non-ASCII characters are stored
// as UTF-8 with the entry's UTF-8 flag. A client file that changed since
// the plan was made fails the package. False with a message.
bool WritePackage(const PlannedPackage& package, const std::string& strArchive, std::string* pError);
