// The few pieces of the C++ runtime that Brevlin.dll's code uses, on Win32
// alone. libstdc++'s own (built for the posix thread model) bring
// winpthreads, the exception machinery and the name demangler with them,
// several times the size of the rest of the library.
#include <windows.h>

#include <cstdlib>
#include <new>

// Objects are created with the nothrow forms only (a failed creation
// answers E_OUTOFMEMORY); there is deliberately no throwing operator new.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return HeapAlloc(GetProcessHeap(), 0, size ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return HeapAlloc(GetProcessHeap(), 0, size ? size : 1);
}
void operator delete(void* p) noexcept {
    if (p) {
        HeapFree(GetProcessHeap(), 0, p);
    }
}
void operator delete[](void* p) noexcept {
    operator delete(p);
}
void operator delete(void* p, std::size_t) noexcept {
    operator delete(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    operator delete(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    operator delete(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    operator delete(p);
}

// The compiler guards the first initialisation of a function-local static
// with these. The guard's first byte is set once the object is built (the
// compiler tests it inline before calling here); the second marks a build
// in progress, which other threads wait out. One lock and one condition
// serve every guard, as in libstdc++; neither is held while an object is
// built, so a static whose constructor uses another static is fine.
namespace {

SRWLOCK g_guardLock = SRWLOCK_INIT;
CONDITION_VARIABLE g_guardChanged = CONDITION_VARIABLE_INIT;

volatile char* Done(long long* guard) noexcept {
    return reinterpret_cast<volatile char*>(guard);
}
volatile char* Building(long long* guard) noexcept {
    return reinterpret_cast<volatile char*>(guard) + 1;
}

}  // namespace

extern "C" int __cxa_guard_acquire(long long* guard) noexcept {
    AcquireSRWLockExclusive(&g_guardLock);
    int mustBuild = 0;
    for (;;) {
        if (*Done(guard)) {
            break;
        }
        if (!*Building(guard)) {
            *Building(guard) = 1;
            mustBuild = 1;
            break;
        }
        SleepConditionVariableSRW(&g_guardChanged, &g_guardLock, INFINITE, 0);
    }
    ReleaseSRWLockExclusive(&g_guardLock);
    return mustBuild;
}

extern "C" void __cxa_guard_release(long long* guard) noexcept {
    AcquireSRWLockExclusive(&g_guardLock);
    *Building(guard) = 0;
    __atomic_store_n(Done(guard), 1, __ATOMIC_RELEASE);
    ReleaseSRWLockExclusive(&g_guardLock);
    WakeAllConditionVariable(&g_guardChanged);
}

extern "C" void __cxa_guard_abort(long long* guard) noexcept {
    AcquireSRWLockExclusive(&g_guardLock);
    *Building(guard) = 0;
    ReleaseSRWLockExclusive(&g_guardLock);
    WakeAllConditionVariable(&g_guardChanged);
}

// A pure virtual function called (through an object being destroyed): the
// process cannot go on sensibly; end it as the platform's runtime would.
extern "C" void __cxa_pure_virtual() {
    std::abort();
}

// The runtime's start-up code applies "pseudo relocations", which the
// linker makes for data that one DLL imports from another without
// __declspec(dllimport). This DLL imports functions only, so the list the
// linker leaves between these two symbols is empty, and this stands in for
// the runtime's relocator, whose error reporting through stdio would be a
// twentieth of the DLL. Should the list ever hold one, the DLL must not run
// with an unrelocated reference: loading it ends the process, which every
// test that loads it shows.
extern "C" char __RUNTIME_PSEUDO_RELOC_LIST__;
extern "C" char __RUNTIME_PSEUDO_RELOC_LIST_END__;
extern "C" void _pei386_runtime_relocator() {
    if (&__RUNTIME_PSEUDO_RELOC_LIST__ != &__RUNTIME_PSEUDO_RELOC_LIST_END__) {
        std::abort();
    }
}
