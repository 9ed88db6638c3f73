#include "app/SetupApp.h"

#include "framework/DllSearch.h"
#include "ui/SetupDlg.h"

#include <windows.h>
#include <commctrl.h>
#include <gdiplus.h>
#include <objbase.h>

Gdiplus::GdiplusStartupInput g_gdiplusStartupInput;
ULONG_PTR g_gdiplusToken = 0;

namespace {

CSetupApp theApp;

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
