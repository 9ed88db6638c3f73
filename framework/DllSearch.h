#pragma once

#include <windows.h>

// Limits the DLL search of this process to System32; called before anything
// can load a DLL. Our programs run from Downloads or the temp folder, where
// anybody may have planted a DLL.
inline void RestrictDllSearch()
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
