#pragma once

#include "framework/Result.h"

#include <cstdint>
#include <string>

// "<folder>/config/ZUZ.System.config": the client's own settings file.
std::wstring ClientConfigPath(const wchar_t* pszSetupPath);

// Sets Version in section [Client] of the settings file to the number with
// at least three digits ("016"); every other entry stays. The config folder
// is not created. Fails when the system's profile writer does.
Result WriteClientSettings(const wchar_t* pszSetupPath, int32_t nVersion);
