#pragma once

#include <cstdint>

constexpr int kPackageNameUnits = 32;

// One parsed line of the package list.
struct PackageEntry {
    wchar_t szName[kPackageNameUnits];
    int32_t nParam;
    int32_t nGroup;
};
