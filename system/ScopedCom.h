#pragma once

#include "framework/ScopedHandle.h"

#include <objbase.h>
#include <oleauto.h>

// One interface pointer, released when the owner goes away.
template <typename T>
struct ComPtrTraits {
    using Handle = T*;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle p) noexcept { p->Release(); }
};

template <typename T>
class ScopedComPtr : public CScopedHandle<ComPtrTraits<T>> {
public:
    using CScopedHandle<ComPtrTraits<T>>::CScopedHandle;

    T* operator->() const noexcept { return this->Get(); }

    // A new in-process object of the class; false when COM cannot make it.
    bool Create(REFCLSID clsid)
    {
        return SUCCEEDED(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(T), PutVoid()));
    }

    // For a call that hands out an interface of the asked-for id.
    void** PutVoid() noexcept { return reinterpret_cast<void**>(this->Put()); }

    // Another interface of the same object; false when it has none.
    template <typename U>
    bool QueryInterface(ScopedComPtr<U>* pOther) const
    {
        return SUCCEEDED(this->Get()->QueryInterface(__uuidof(U), pOther->PutVoid()));
    }
};

struct BstrTraits {
    using Handle = BSTR;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { ::SysFreeString(h); }
};

// A string for an automation call; null when it could not be allocated.
class ScopedBstr : public CScopedHandle<BstrTraits> {
public:
    explicit ScopedBstr(const wchar_t* psz) : CScopedHandle(::SysAllocString(psz)) {}
};

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
