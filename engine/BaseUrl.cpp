#include "engine/BaseUrl.h"

// SETUP_BASE_URL comes from the build: the package server host followed by
// the fixed path "/EX3/".
const std::wstring g_strBaseUrl = L"" SETUP_BASE_URL;
