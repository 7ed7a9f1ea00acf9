// Move-only owners of operating-system resources, one per close function.
// Copying is deleted; Release() gives the handle up without closing it.
#pragma once

#include "WinApi.h"

#include <bcrypt.h>

#include <utility>

namespace Bas {

template <class Traits>
class CScopedHandle {
public:
    using Handle = typename Traits::Handle;

    CScopedHandle() noexcept : m_handle(Traits::Invalid()) {}
    explicit CScopedHandle(Handle handle) noexcept : m_handle(handle) {}
    CScopedHandle(CScopedHandle&& other) noexcept : m_handle(other.Release()) {}
    CScopedHandle& operator=(CScopedHandle&& other) noexcept
    {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    CScopedHandle(const CScopedHandle&) = delete;
    CScopedHandle& operator=(const CScopedHandle&) = delete;
    ~CScopedHandle() { Reset(); }

    Handle Get() const noexcept { return m_handle; }
    bool IsValid() const noexcept { return m_handle != Traits::Invalid(); }
    explicit operator bool() const noexcept { return IsValid(); }

    Handle Release() noexcept { return std::exchange(m_handle, Traits::Invalid()); }
    void Reset(Handle handle = Traits::Invalid()) noexcept
    {
        Handle old = std::exchange(m_handle, handle);
        if (old != Traits::Invalid())
            Traits::Close(old);
    }

private:
    Handle m_handle;
};

// CreateFileW fails with INVALID_HANDLE_VALUE.
struct CFileHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Handle h) noexcept { ::CloseHandle(h); }
};

// Process, thread, event and mapping handles fail with null.
struct CKernelHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { ::CloseHandle(h); }
};

struct CFindHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Handle h) noexcept { ::FindClose(h); }
};

struct CRegKeyTraits {
    using Handle = HKEY;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { ::RegCloseKey(h); }
};

struct CViewTraits {
    using Handle = const void*;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { ::UnmapViewOfFile(h); }
};

struct CModuleTraits {
    using Handle = HMODULE;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { ::FreeLibrary(h); }
};

struct CEventLogTraits {
    using Handle = HANDLE;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { ::CloseEventLog(h); }
};

struct CEventSourceTraits {
    using Handle = HANDLE;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { ::DeregisterEventSource(h); }
};

// Buffers the system allocates with LocalAlloc (FormatMessageW, SIDs and
// security descriptors from the conversion functions).
struct CLocalMemoryTraits {
    using Handle = void*;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { ::LocalFree(h); }
};

struct CIconTraits {
    using Handle = HICON;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { ::DestroyIcon(h); }
};

// Windows CNG: an algorithm provider and a hash object.
struct CAlgorithmTraits {
    using Handle = BCRYPT_ALG_HANDLE;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { ::BCryptCloseAlgorithmProvider(h, 0); }
};

struct CHashTraits {
    using Handle = BCRYPT_HASH_HANDLE;
    static Handle Invalid() noexcept { return nullptr; }
    static void Close(Handle h) noexcept { ::BCryptDestroyHash(h); }
};

using CFileHandle = CScopedHandle<CFileHandleTraits>;
using CKernelHandle = CScopedHandle<CKernelHandleTraits>;
using CFindHandle = CScopedHandle<CFindHandleTraits>;
using CRegKeyHandle = CScopedHandle<CRegKeyTraits>;
using CMappingHandle = CScopedHandle<CKernelHandleTraits>;
using CViewHandle = CScopedHandle<CViewTraits>;
using CModuleHandle = CScopedHandle<CModuleTraits>;
using CEventLogHandle = CScopedHandle<CEventLogTraits>;
using CEventSourceHandle = CScopedHandle<CEventSourceTraits>;
using CLocalMemory = CScopedHandle<CLocalMemoryTraits>;
using CIconHandle = CScopedHandle<CIconTraits>;
using CAlgorithmHandle = CScopedHandle<CAlgorithmTraits>;
using CHashHandle = CScopedHandle<CHashTraits>;

} // namespace Bas
