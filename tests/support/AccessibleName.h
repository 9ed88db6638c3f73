#pragma once

#include <windows.h>
#include <oleacc.h>

#include <string>

// The name a screen reader reads for the window, through the system's
// accessibility service (link oleacc).
inline std::wstring AccessibleName(HWND hWnd)
{
    IAccessible* pAccessible = nullptr;
    if (FAILED(::AccessibleObjectFromWindow(hWnd, static_cast<DWORD>(OBJID_CLIENT), IID_IAccessible,
                                            reinterpret_cast<void**>(&pAccessible))))
        return L"(no accessible object)";
    VARIANT self = {};
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR bstrName = nullptr;
    std::wstring strName;
    if (SUCCEEDED(pAccessible->get_accName(self, &bstrName)) && bstrName)
        strName = bstrName;
    ::SysFreeString(bstrName);
    pAccessible->Release();
    return strName;
}
