// Looks at the machine from outside the installer, for the end-to-end suite:
//   e2e_probe lnk FILE            the shortcut's fields, read through the shell
//   e2e_probe windows             visible top-level windows and their children
//   e2e_probe processes           running processes with their image paths
//   e2e_probe set-event NAME      sets a named event (ends the stand-in clients)
//   e2e_probe run COMMANDLINE     starts the command line, waits for it and
//                                 prints its whole exit code
//   e2e_probe show HWND CMD       ShowWindow on another program's window
//   e2e_probe state HWND          whether the window is minimized, in front
// Output is UTF-8, one "key=value" or one tab-separated record per line.
#include <windows.h>

#include <shlobj.h>
#include <shobjidl.h>
#include <tlhelp32.h>

#include <cwchar>
#include <string>

namespace {

void Print(const std::wstring& strLine)
{
    std::wstring strOut = strLine + L"\n";
    int cb = ::WideCharToMultiByte(CP_UTF8, 0, strOut.c_str(), static_cast<int>(strOut.size()), nullptr, 0, nullptr,
                                   nullptr);
    std::string strUtf8(static_cast<size_t>(cb), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, strOut.c_str(), static_cast<int>(strOut.size()), &strUtf8[0], cb, nullptr,
                          nullptr);
    DWORD dwWritten = 0;
    ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), strUtf8.data(), static_cast<DWORD>(strUtf8.size()), &dwWritten,
                nullptr);
}

// Tabs and line ends inside a text would break the record.
std::wstring Flat(std::wstring str)
{
    for (wchar_t& ch : str)
        if (ch == L'\t' || ch == L'\r' || ch == L'\n')
            ch = L' ';
    return str;
}

template <typename T>
struct ComPtr {
    T* p = nullptr;
    ~ComPtr()
    {
        if (p)
            p->Release();
    }
};

int ReadLink(const wchar_t* pszFile)
{
    if (FAILED(::CoInitialize(nullptr)))
        return 2;
    int nResult = 1;
    {
        ComPtr<IShellLinkW> link;
        ComPtr<IPersistFile> file;
        if (SUCCEEDED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                         reinterpret_cast<void**>(&link.p))) &&
            SUCCEEDED(link.p->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file.p))) &&
            SUCCEEDED(file.p->Load(pszFile, STGM_READ))) {
            wchar_t sz[1024] = {};
            link.p->GetPath(sz, 1024, nullptr, SLGP_RAWPATH);
            Print(std::wstring(L"rawtarget=") + sz);
            // The shell opens the item list; the raw path may have passed
            // through the ANSI code page on its way into the file.
            PIDLIST_ABSOLUTE pidl = nullptr;
            wchar_t szTarget[MAX_PATH] = {};
            if (SUCCEEDED(link.p->GetIDList(&pidl)) && pidl) {
                ::SHGetPathFromIDListW(pidl, szTarget);
                ::CoTaskMemFree(pidl);
            }
            Print(std::wstring(L"target=") + (szTarget[0] ? szTarget : sz));
            sz[0] = L'\0';
            link.p->GetArguments(sz, 1024);
            Print(std::wstring(L"arguments=") + sz);
            sz[0] = L'\0';
            link.p->GetWorkingDirectory(sz, 1024);
            Print(std::wstring(L"workdir=") + sz);
            sz[0] = L'\0';
            link.p->GetDescription(sz, 1024);
            Print(std::wstring(L"description=") + sz);
            sz[0] = L'\0';
            int nIcon = -1;
            link.p->GetIconLocation(sz, 1024, &nIcon);
            Print(std::wstring(L"icon=") + sz);
            Print(L"iconindex=" + std::to_wstring(nIcon));
            nResult = 0;
        }
    }
    ::CoUninitialize();
    return nResult;
}

// The text as the control holds it: GetWindowText would return only the
// caption stored at creation for another process's edit field.
std::wstring WindowText(HWND hWnd)
{
    wchar_t sz[512] = {};
    DWORD_PTR dwResult = 0;
    ::SendMessageTimeoutW(hWnd, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(sz), SMTO_ABORTIFHUNG, 1000, &dwResult);
    sz[511] = L'\0';
    return Flat(sz);
}

std::wstring ClassName(HWND hWnd)
{
    wchar_t sz[256] = {};
    ::GetClassNameW(hWnd, sz, 256);
    return sz;
}

std::wstring RectText(HWND hWnd)
{
    RECT rc = {};
    ::GetWindowRect(hWnd, &rc);
    return std::to_wstring(rc.left) + L"\t" + std::to_wstring(rc.top) + L"\t" + std::to_wstring(rc.right) + L"\t" +
           std::to_wstring(rc.bottom);
}

// "window" records: handle, pid, class, rectangle, text; then one "child"
// record per child: handle, control id, visible flag, class, rectangle, text.
BOOL CALLBACK PrintChild(HWND hWnd, LPARAM)
{
    Print(L"child\t" + std::to_wstring(reinterpret_cast<uintptr_t>(hWnd)) + L"\t" +
          std::to_wstring(::GetDlgCtrlID(hWnd)) + L"\t" + (::IsWindowVisible(hWnd) ? L"1" : L"0") + L"\t" +
          ClassName(hWnd) + L"\t" + RectText(hWnd) + L"\t" + WindowText(hWnd));
    return TRUE;
}

BOOL CALLBACK PrintWindow(HWND hWnd, LPARAM)
{
    if (!::IsWindowVisible(hWnd))
        return TRUE;
    DWORD dwPid = 0;
    ::GetWindowThreadProcessId(hWnd, &dwPid);
    Print(L"window\t" + std::to_wstring(reinterpret_cast<uintptr_t>(hWnd)) + L"\t" + std::to_wstring(dwPid) + L"\t" +
          ClassName(hWnd) + L"\t" + RectText(hWnd) + L"\t" + WindowText(hWnd));
    ::EnumChildWindows(hWnd, PrintChild, 0);
    return TRUE;
}

// "process" records: pid, file name, full image path (empty when unreadable).
int PrintProcesses()
{
    HANDLE hSnap = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (hSnap == INVALID_HANDLE_VALUE)
        return 1;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL bMore = ::Process32FirstW(hSnap, &entry); bMore; bMore = ::Process32NextW(hSnap, &entry)) {
        wchar_t szImage[MAX_PATH] = {};
        HANDLE hProcess = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
        if (hProcess) {
            DWORD cch = MAX_PATH;
            ::QueryFullProcessImageNameW(hProcess, 0, szImage, &cch);
            ::CloseHandle(hProcess);
        }
        Print(L"process\t" + std::to_wstring(entry.th32ProcessID) + L"\t" + entry.szExeFile + L"\t" + szImage);
        entry.dwSize = sizeof(entry);
    }
    ::CloseHandle(hSnap);
    return 0;
}

int SetNamedEvent(const wchar_t* pszName)
{
    HANDLE hEvent = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, pszName);
    if (!hEvent)
        return 0;  // nobody waits on it
    ::SetEvent(hEvent);
    ::CloseHandle(hEvent);
    return 0;
}

// Holds a file or folder open as another program might, sharing reading
// and writing but not its deletion or renaming, until the named event is
// set.
int HoldOpen(const wchar_t* pszPath, const wchar_t* pszEvent)
{
    HANDLE hEvent = ::CreateEventW(nullptr, TRUE, FALSE, pszEvent);
    HANDLE hHeld = ::CreateFileW(pszPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (!hEvent || hHeld == INVALID_HANDLE_VALUE) {
        Print(L"error=" + std::to_wstring(::GetLastError()));
        return 1;
    }
    Print(L"held");
    ::WaitForSingleObject(hEvent, INFINITE);
    ::CloseHandle(hHeld);
    ::CloseHandle(hEvent);
    return 0;
}

HWND WindowFrom(const wchar_t* pszHandle)
{
    return reinterpret_cast<HWND>(static_cast<uintptr_t>(std::wcstoull(pszHandle, nullptr, 10)));
}

int ShowOtherWindow(const wchar_t* pszHandle, const wchar_t* pszCommand)
{
    HWND hWnd = WindowFrom(pszHandle);
    if (!::IsWindow(hWnd))
        return 1;
    ::ShowWindow(hWnd, static_cast<int>(std::wcstol(pszCommand, nullptr, 10)));
    return 0;
}

int PrintWindowState(const wchar_t* pszHandle)
{
    HWND hWnd = WindowFrom(pszHandle);
    if (!::IsWindow(hWnd))
        return 1;
    Print(std::wstring(L"iconic=") + (::IsIconic(hWnd) ? L"1" : L"0"));
    Print(std::wstring(L"foreground=") + (::GetForegroundWindow() == hWnd ? L"1" : L"0"));
    return 0;
}

// Wine gives the shell only the low 8 bits of an exit code; 1603 would
// read as 67. The child is in a job that ends it with the probe, so a
// probe the suite kills leaves nothing running; what the child starts (the
// client, the uninstaller's temp copy) stays out of the job and outlives
// both.
int RunAndWait(const wchar_t* pszCommandLine)
{
    std::wstring strCommandLine = pszCommandLine;
    Print(L"commandline=" + strCommandLine);
    HANDLE hJob = ::CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_SILENT_BREAKAWAY_OK;
    if (!hJob || !::SetInformationJobObject(hJob, JobObjectExtendedLimitInformation, &limits, sizeof(limits)))
        return 1;
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!::CreateProcessW(nullptr, &strCommandLine[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &si,
                          &pi)) {
        Print(L"error=" + std::to_wstring(::GetLastError()));
        return 1;
    }
    ::AssignProcessToJobObject(hJob, pi.hProcess);
    ::ResumeThread(pi.hThread);
    ::CloseHandle(pi.hThread);
    Print(L"pid=" + std::to_wstring(pi.dwProcessId));
    ::WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD dwExitCode = 0;
    const BOOL bRead = ::GetExitCodeProcess(pi.hProcess, &dwExitCode);
    ::CloseHandle(pi.hProcess);
    if (!bRead)
        return 1;
    Print(L"exitcode=" + std::to_wstring(dwExitCode));
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc == 3 && std::wcscmp(argv[1], L"lnk") == 0)
        return ReadLink(argv[2]);
    if (argc == 2 && std::wcscmp(argv[1], L"windows") == 0)
        return ::EnumWindows(PrintWindow, 0) ? 0 : 1;
    if (argc == 2 && std::wcscmp(argv[1], L"processes") == 0)
        return PrintProcesses();
    if (argc == 3 && std::wcscmp(argv[1], L"set-event") == 0)
        return SetNamedEvent(argv[2]);
    if (argc == 3 && std::wcscmp(argv[1], L"run") == 0)
        return RunAndWait(argv[2]);
    if (argc == 4 && std::wcscmp(argv[1], L"hold") == 0)
        return HoldOpen(argv[2], argv[3]);
    if (argc == 4 && std::wcscmp(argv[1], L"show") == 0)
        return ShowOtherWindow(argv[2], argv[3]);
    if (argc == 3 && std::wcscmp(argv[1], L"state") == 0)
        return PrintWindowState(argv[2]);
    Print(L"usage: e2e_probe lnk FILE | windows | processes | set-event NAME | run COMMANDLINE | hold PATH EVENT | "
          L"show HWND CMD | state HWND");
    return 2;
}
