#pragma once

#include <windows.h>

#include <cstdint>

// The serial of the signed release installed last, kept as the REG_DWORD
// "ReleaseSerial" in the product's uninstall key: removing the entry
// forgets it with everything else.
constexpr wchar_t kReleaseSerialValue[] = L"ReleaseSerial";

// 0 when the key or the value is not there or is no REG_DWORD.
uint32_t ReadInstalledReleaseSerial();

// Sets the value in the existing product key; the status of the failed
// call, else ERROR_SUCCESS.
LONG WriteInstalledReleaseSerial(uint32_t nSerial);
