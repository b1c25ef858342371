// Accounting of the strings the service hands out.
//
// SysFreeString cannot be intercepted by the service itself, so the
// accounting patches the import address table of every loaded module: a
// call to SysFreeString through a patched module reaches FreeHook first. A
// string the service handed out is then moved to a quarantine instead of
// being freed, so its memory cannot be reused while the service lives and a
// second free of it is recognised (and recorded) rather than corrupting the
// heap. Strings freed through a module that was not patched (loaded after the
// last TrackStringFrees) look leaked.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstddef>

namespace telsim {

class ServiceCore;

namespace strings {

// Patches every module loaded now; returns how many import slots were patched.
int HookLoadedModules() noexcept;
bool Hooked() noexcept;

// Allocates a string counted against core (a plain SysAllocStringLen when
// counting is off for it). Null on lack of memory.
BSTR Allocate(ServiceCore* core, const wchar_t* text, std::size_t length, bool counted) noexcept;
// Strings of core handed out and not freed yet.
std::size_t Live(const ServiceCore* core) noexcept;
// Called when core goes: frees its quarantine and forgets its live strings.
void Forget(const ServiceCore* core) noexcept;

}  // namespace strings
}  // namespace telsim
