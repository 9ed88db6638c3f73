#include "app/SetupApp.h"

#include "ui/SetupDlg.h"

#include <windows.h>
#include <commctrl.h>
#include <gdiplus.h>
#include <objbase.h>

Gdiplus::GdiplusStartupInput g_gdiplusStartupInput;
ULONG_PTR g_gdiplusToken = 0;

namespace {

CSetupApp theApp;

// Limits the DLL search of this process to System32. The exe's own folder
// is usually Downloads, where anybody may have planted a DLL.
void RestrictDllSearch()
{
    // Windows 7 has the call only with KB2533623; a static import would keep
    // the exe from starting at all without it.
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    HMODULE hKernel = ::GetModuleHandleW(L"kernel32.dll");
    auto pfnSetDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void (*)()>(::GetProcAddress(hKernel, "SetDefaultDllDirectories")));
    if (pfnSetDefault)
        pfnSetDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
    else
        ::SetDllDirectoryW(L"");
}

}  // namespace

bool CSetupApp::InitInstance()
{
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&icc);
    // The folder browser and the shell links need COM on this thread.
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    Gdiplus::GdiplusStartup(&g_gdiplusToken, &g_gdiplusStartupInput, nullptr);

    {
        CSetupDlg dlg(nullptr);
        dlg.DoModal();
    }
    return false;
}

int CSetupApp::ExitInstance()
{
    Gdiplus::GdiplusShutdown(g_gdiplusToken);
    ::CoUninitialize();
    return 0;
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    // Before anything can load a DLL.
    RestrictDllSearch();
    theApp.InitInstance();
    return theApp.ExitInstance();
}
