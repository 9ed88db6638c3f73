// Stands in for a DLL somebody dropped next to the installer: when it is
// loaded, it leaves "<its own path>.loaded" beside itself.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID pReserved)
{
    (void)pReserved;
    if (dwReason == DLL_PROCESS_ATTACH) {
        wchar_t szMarker[MAX_PATH + 8] = {0};
        DWORD cch = GetModuleFileNameW(hInstance, szMarker, MAX_PATH);
        if (cch > 0 && cch < MAX_PATH) {
            lstrcatW(szMarker, L".loaded");
            HANDLE hFile = CreateFileW(szMarker, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
            if (hFile != INVALID_HANDLE_VALUE)
                CloseHandle(hFile);
        }
    }
    return TRUE;
}
