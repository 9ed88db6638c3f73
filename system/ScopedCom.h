#pragma once

#include "framework/ScopedHandle.h"

#include <objbase.h>

// One interface pointer, released when the owner goes away.
template <typename T>
struct ComPtrTraits {
    using Handle = T*;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle p) noexcept { p->Release(); }
};

template <typename T>
using ScopedComPtr = CScopedHandle<ComPtrTraits<T>>;

// COM for the calling thread for the object's lifetime. Only a successful
// initialisation is undone: a thread already in another apartment keeps it.
class CComInit {
public:
    CComInit() : m_hr(::CoInitialize(nullptr)) {}
    ~CComInit()
    {
        if (SUCCEEDED(m_hr))
            ::CoUninitialize();
    }
    CComInit(const CComInit&) = delete;
    CComInit& operator=(const CComInit&) = delete;

private:
    HRESULT m_hr;
};
