#pragma once

#include <windows.h>

#include <cstdint>

// Fetches one URL with a single GET and appends the body to *ppBuffer at
// *pnSize, growing the buffer when needed. Answers one proxy authentication
// demand with the remembered credentials (64-unit arrays) or with ones the
// user types into the prompt owned by hWndOwner (net/ProxyAuthUi.h: tests
// answer it without a window). Returns 1 when the whole body is in the
// buffer, 0 on any failure. With nMaxBody a body longer than that fails:
// at once when its length is announced, else as soon as one byte more has
// come, so that a larger body is never read to its end.
// hStop, a manual-reset event of the caller's (null: never), ends the
// download at once when it is signalled before or during it, even while the
// server keeps silent: the call returns 0, and nothing it started touches
// the buffer or the caller's memory afterwards. The proxy prompt, while it
// is open, is not ended by it.
constexpr int32_t kAnyBodySize = -1;
int HttpDownload(const wchar_t* lpUrl, uint8_t** ppBuffer, int32_t* pnSize, int32_t* pnCapacity, wchar_t* szProxyUser,
                 wchar_t* szProxyPassword, HWND hWndOwner, int32_t nMaxBody = kAnyBodySize, HANDLE hStop = nullptr);
