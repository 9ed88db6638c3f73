#pragma once

#include "Plan.h"

#include <string>
#include <vector>

// The bytes of a server list file as the installer reads it: UTF-16LE
// after the byte-order mark FF FE, every line ended by CR LF.
std::string ServerListBytes(const std::vector<std::string>& lines);

// "name;param;group" for every package, in list order.
std::vector<std::string> PackageListLines(const std::vector<PlannedPackage>& packages);
// "path;crc" with the CRC-32 in unsigned decimal.
std::vector<std::string> CrcListLines(const std::vector<VerifiedFile>& files);
