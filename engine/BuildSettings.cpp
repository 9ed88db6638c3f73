#include "engine/BaseUrl.h"

// What the build names, alone in this file, so that a variant of the
// program for the end-to-end suite can be linked with settings of its own.

// The package server host followed by the fixed path "/EX3/".
const std::wstring g_strBaseUrl = L"" SETUP_BASE_URL;

std::vector<std::wstring> BuildMirrorHosts()
{
    return ParseMirrorHosts(L"" SETUP_MIRROR_HOSTS);
}
