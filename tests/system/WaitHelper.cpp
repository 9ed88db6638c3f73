// Stands in for the installed client in the process tests: records the
// folder it was started in next to itself, then waits until the tests set
// the quit event (or a minute has passed, so nothing is left behind). A GUI
// program, as the client is: no console host is started beside it.
#include <windows.h>

#include <cwchar>
#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    HANDLE hQuit = ::CreateEventW(nullptr, TRUE, FALSE, L"SetupTestsQuitHelpers");

    wchar_t szExe[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, szExe, MAX_PATH);
    std::wstring strDir(szExe);
    strDir.resize(strDir.find_last_of(L'\\'));
    wchar_t szCurrent[MAX_PATH] = {};
    DWORD cch = ::GetCurrentDirectoryW(MAX_PATH, szCurrent);

    // Written under another name and renamed, so that a reader never sees
    // half a file.
    std::wstring strTemp = strDir + L"\\started.tmp";
    HANDLE hFile = ::CreateFileW(strTemp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (hFile != INVALID_HANDLE_VALUE) {
        DWORD dwWritten = 0;
        ::WriteFile(hFile, szCurrent, cch * sizeof(wchar_t), &dwWritten, nullptr);
        ::CloseHandle(hFile);
        ::MoveFileExW(strTemp.c_str(), (strDir + L"\\started.txt").c_str(), MOVEFILE_REPLACE_EXISTING);
    }

    if (hQuit)
        ::WaitForSingleObject(hQuit, 60000);
    return 0;
}
