// Per-process state of the library that the comkit code is linked into:
// the lock count that decides DllCanUnloadNow, the two critical sections of
// one-time creation, the resource module and the clean-up list run at detach.
#pragma once

#include <windows.h>

#include "comkit/critical_section.h"

namespace comkit {

class Module {
public:
    using TermFunc = void (*)(void* data) noexcept;

    Module() noexcept;
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;
    // Does not run the clean-up list: a library runs it from DllMain at
    // detach; in a program, static destruction may come after COM is gone,
    // so whatever is left is left to the process's end.
    ~Module() = default;

    // Lock count: one per live object, per held class-object reference and per
    // LockServer(TRUE). Each returns the new count.
    LONG Lock() noexcept { return InterlockedIncrement(&m_lockCount); }
    LONG Unlock() noexcept { return InterlockedDecrement(&m_lockCount); }
    LONG GetLockCount() const noexcept {
        return InterlockedCompareExchange(const_cast<LONG*>(&m_lockCount), 0, 0);
    }

    // The module whose resources and file path the library uses: the image
    // this code is linked into, unless SetResourceInstance changed it.
    HINSTANCE GetResourceInstance() const noexcept { return m_resourceInstance; }
    void SetResourceInstance(HINSTANCE instance) noexcept { m_resourceInstance = instance; }

    // The type library of this module (what registration and IDispatchImpl use).
    const GUID& GetLibId() const noexcept { return m_libId; }
    void SetLibId(const GUID& libId) noexcept { m_libId = libId; }

    // Serialises the one-time creation of class objects.
    CComCriticalSection& ClassObjectLock() noexcept { return m_classObjectLock; }
    // Serialises the one-time loading of cached type descriptions.
    CComCriticalSection& TypeInfoLock() noexcept { return m_typeInfoLock; }

    // Adds fn(data) to the clean-up list; E_OUTOFMEMORY if it cannot be kept.
    HRESULT AddTermFunc(TermFunc fn, void* data) noexcept;
    // Runs the clean-up list, newest first, and empties it. Called at detach.
    void Term() noexcept;

private:
    struct TermEntry {
        TermFunc fn;
        void* data;
        TermEntry* next;
    };

    LONG m_lockCount = 0;
    HINSTANCE m_resourceInstance;
    GUID m_libId{};
    CComAutoCriticalSection m_classObjectLock;
    CComAutoCriticalSection m_typeInfoLock;
    CComAutoCriticalSection m_termLock;
    TermEntry* m_termList = nullptr;
};

// The one module object of this image.
Module& GetModule() noexcept;

}  // namespace comkit
