// Brevlin.dll's own start-up, in place of the runtime's. The runtime's brings
// thread-local storage support, a per-library exit table and its locks, two
// sections of their own and eight imports (a twentieth of the DLL) for what
// this library needs: its static objects built when it is loaded, and torn
// down, newest first, when it is unloaded.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);

namespace {

using Function = void (*)();

// Static objects register their teardown as they are built: a handful of
// them, built once each.
constexpr LONG kMaxExitFunctions = 16;
Function g_exitFunctions[kMaxExitFunctions];
LONG g_exitCount = 0;

}  // namespace

// The linker's list of static constructors: -1, the constructors, then 0.
extern "C" Function __CTOR_LIST__[];

extern "C" int atexit(Function fn) {
    const LONG slot = InterlockedIncrement(&g_exitCount) - 1;
    if (slot >= kMaxExitFunctions) {
        return -1;
    }
    g_exitFunctions[slot] = fn;
    return 0;
}

extern "C" BOOL WINAPI DllMainCRTStartup(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        // Built last to first, as the runtime does.
        LONG count = 0;
        while (__CTOR_LIST__[count + 1]) {
            ++count;
        }
        for (; count > 0; --count) {
            __CTOR_LIST__[count]();
        }
    }
    const BOOL result = DllMain(instance, reason, reserved);
    if (reason == DLL_PROCESS_DETACH) {
        for (LONG n = g_exitCount < kMaxExitFunctions ? g_exitCount : kMaxExitFunctions; n > 0;) {
            g_exitFunctions[--n]();
        }
    }
    return result;
}
