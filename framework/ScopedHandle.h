#pragma once

#include <windows.h>

#include <utility>

// Owns one handle of a kind described by Traits: Invalid() is the empty
// value, Close() releases it. Non-copyable, movable.
template <typename Traits>
class CScopedHandle {
public:
    using Handle = typename Traits::Handle;

    CScopedHandle() noexcept : m_h(Traits::Invalid()) {}
    explicit CScopedHandle(Handle h) noexcept : m_h(h) {}
    CScopedHandle(CScopedHandle&& other) noexcept : m_h(other.Release()) {}
    CScopedHandle& operator=(CScopedHandle&& other) noexcept
    {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    CScopedHandle(const CScopedHandle&) = delete;
    CScopedHandle& operator=(const CScopedHandle&) = delete;
    ~CScopedHandle() { Reset(); }

    bool IsValid() const noexcept { return m_h != Traits::Invalid(); }
    explicit operator bool() const noexcept { return IsValid(); }
    Handle Get() const noexcept { return m_h; }

    void Reset(Handle h = Traits::Invalid()) noexcept
    {
        if (IsValid())
            Traits::Close(m_h);
        m_h = h;
    }
    Handle Release() noexcept { return std::exchange(m_h, Traits::Invalid()); }
    // For a call that hands out the handle through a pointer: the current
    // one is closed first.
    Handle* Put() noexcept
    {
        Reset();
        return &m_h;
    }

private:
    Handle m_h;
};

struct KernelHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { ::CloseHandle(h); }
};

// CreateFile reports failure with INVALID_HANDLE_VALUE, not null.
struct FileHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Handle h) noexcept { ::CloseHandle(h); }
};

struct FindHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Handle h) noexcept { ::FindClose(h); }
};

struct RegKeyTraits {
    using Handle = HKEY;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { ::RegCloseKey(h); }
};

// Memory the system allocated for the caller with LocalAlloc (security
// descriptors, SID strings).
struct LocalMemoryTraits {
    using Handle = HLOCAL;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { ::LocalFree(h); }
};

struct GdiObjectTraits {
    using Handle = HGDIOBJ;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { ::DeleteObject(h); }
};

using ScopedHandle = CScopedHandle<KernelHandleTraits>;
using ScopedFile = CScopedHandle<FileHandleTraits>;
using ScopedFind = CScopedHandle<FindHandleTraits>;
using ScopedRegKey = CScopedHandle<RegKeyTraits>;
using ScopedGdiObject = CScopedHandle<GdiObjectTraits>;
using ScopedLocal = CScopedHandle<LocalMemoryTraits>;
