#pragma once

#include <string>
#include <vector>

// Package-server base URL; every server file is this followed by its name.
extern const std::wstring g_strBaseUrl;
// The mirrors the build names (SETUP_MIRROR_HOSTS), in order.
std::vector<std::wstring> BuildMirrorHosts();

// The host[:port] entries of a comma-separated list, blanks around them
// dropped. An entry is kept only as a DNS name or an IPv4 address, with at
// most one port of 1-65535 after a colon.
std::vector<std::wstring> ParseMirrorHosts(const std::wstring& strList);
// The http or https URL with its host[:port] replaced; empty when the URL
// has no such part.
std::wstring UrlOnHost(const std::wstring& strUrl, const std::wstring& strHost);
// The host[:port] of such a URL; empty when it has none.
std::wstring HostOfUrl(const std::wstring& strUrl);
