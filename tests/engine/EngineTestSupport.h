#pragma once

#include "engine/InstallNotifier.h"
#include "engine/SetupEngine.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TempDir.h"

#include <cstdint>
#include <string>
#include <vector>

// Keeps what the engine shows, for the tests to check.
class CRecordingNotifier : public IInstallNotifier {
public:
    void ShowErrorText(const wchar_t* pszText) override { m_vecErrors.push_back(pszText); }
    void SetStatusText(const wchar_t* pszText) override { m_vecStatus.push_back(pszText); }
    void HideStatusText() override {}
    void PostProgress() override { ++m_nProgressPosts; }
    void UpdateProgressText() override {}
    void StartLaunchTimer() override {}
    HWND PromptOwner() const override { return nullptr; }

    std::vector<std::wstring> m_vecErrors;
    std::vector<std::wstring> m_vecStatus;
    int m_nProgressPosts = 0;
};

// The nginx started for the engine tests: its folder (as a Windows path)
// and the base URL below which it serves that folder's "EX3".
std::wstring TestServerFolder();
std::wstring TestServerBaseUrl();
// Puts a file below the base URL; with no data, removes it.
bool ServeFile(const std::wstring& strName, const std::vector<uint8_t>& data);
bool RemoveServedFile(const std::wstring& strName);

// A server list as UTF-16LE, with the byte-order mark unless told not to.
std::vector<uint8_t> ListBytes(const std::wstring& strText, bool bByteOrderMark = true);
