#pragma once

#include <windows.h>

#include "support/NoCopy.h"

// A platform handle closed once, when its holder's scope ends or it is reset:
// Traits says what "none" is and how one is closed. Moves hand it on.
template <class Traits>
class ScopedHandle : NoCopy {
public:
    using Handle = typename Traits::Handle;

    ScopedHandle() : m_handle(Traits::None()) {}
    explicit ScopedHandle(Handle handle) : m_handle(handle) {}
    ScopedHandle(ScopedHandle&& other) noexcept : m_handle(other.Release()) {}
    ScopedHandle& operator=(ScopedHandle&& other) noexcept
    {
        Reset(other.Release());
        return *this;
    }
    ~ScopedHandle() { Reset(Traits::None()); }

    Handle Get() const { return m_handle; }
    bool IsValid() const { return Traits::IsValid(m_handle); }
    // Gives the handle up, unclosed.
    Handle Release()
    {
        Handle handle = m_handle;
        m_handle = Traits::None();
        return handle;
    }
    void Reset(Handle handle)
    {
        if (IsValid())
            Traits::Close(m_handle);
        m_handle = handle;
    }

private:
    Handle m_handle;
};

// What CloseHandle closes: files, threads, mutexes. Calls that make one
// answer INVALID_HANDLE_VALUE or null for none, by kind; both count as none.
struct KernelHandleTraits {
    using Handle = HANDLE;
    static Handle None() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(Handle handle)
    {
        return handle != INVALID_HANDLE_VALUE && handle != nullptr;
    }
    static void Close(Handle handle) { CloseHandle(handle); }
};
using CFileHandle = ScopedHandle<KernelHandleTraits>;
