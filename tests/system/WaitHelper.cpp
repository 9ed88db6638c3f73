// Stands in for the installed client in the process tests: records the
// show command it was given (shown.txt, "none" without one) and then the
// folder it was started in (started.txt) next to itself, then waits until
// the tests set the quit event (or a minute has passed, so nothing is left
// behind). A GUI program, as the client is: no console host is started
// beside it.
#include <windows.h>

#include <cwchar>
#include <string>

namespace {

// Written under another name and renamed, so that a reader never sees half
// a file.
void WriteBeside(const std::wstring& strDir, const wchar_t* pszName, const std::wstring& strText)
{
    std::wstring strTemp = strDir + L"\\" + pszName + L".tmp";
    HANDLE hFile = ::CreateFileW(strTemp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (hFile == INVALID_HANDLE_VALUE)
        return;
    DWORD dwWritten = 0;
    ::WriteFile(hFile, strText.data(), static_cast<DWORD>(strText.size() * sizeof(wchar_t)), &dwWritten, nullptr);
    ::CloseHandle(hFile);
    ::MoveFileExW(strTemp.c_str(), (strDir + L"\\" + pszName).c_str(), MOVEFILE_REPLACE_EXISTING);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    HANDLE hQuit = ::CreateEventW(nullptr, TRUE, FALSE, L"SetupTestsQuitHelpers");

    wchar_t szExe[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, szExe, MAX_PATH);
    std::wstring strDir(szExe);
    strDir.resize(strDir.find_last_of(L'\\'));
    wchar_t szCurrent[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, szCurrent);

    STARTUPINFOW si = {sizeof(si)};
    ::GetStartupInfoW(&si);
    // First, so that it is there once started.txt is.
    WriteBeside(strDir, L"shown.txt",
                (si.dwFlags & STARTF_USESHOWWINDOW) ? std::to_wstring(si.wShowWindow) : std::wstring(L"none"));
    WriteBeside(strDir, L"started.txt", szCurrent);

    if (hQuit)
        ::WaitForSingleObject(hQuit, 60000);
    return 0;
}
