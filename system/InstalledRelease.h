#pragma once

#include "framework/Result.h"

#include <cstdint>

// The serial of the signed release installed last, the REG_DWORD
// "ReleaseSerial" below HKEY_LOCAL_MACHINE in two keys: the product's
// uninstall key, and the product's own key, which uninstalling leaves, so
// that an older release is refused after an uninstall too.
constexpr wchar_t kReleaseSerialValue[] = L"ReleaseSerial";
constexpr wchar_t kReleaseSerialKey[] = L"SOFTWARE\\Fenmora";

// The higher serial of the two keys, 0 where the key or the value is not
// there. False, logged, when a value is there but is no REG_DWORD or cannot
// be read: taken for 0 it would let any release in.
bool ReadInstalledReleaseSerial(uint32_t* pnSerial);

// Sets the value in the existing uninstall key and in the product's key,
// made when missing; each write is logged with its status.
Result WriteInstalledReleaseSerial(uint32_t nSerial);
