#pragma once

#include <string>

// Package-server base URL; every server file is this followed by its name.
extern const std::wstring g_strBaseUrl;
