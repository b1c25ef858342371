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

class Ledger;

namespace strings {

// Patches every module loaded now; returns how many import slots were patched.
int HookLoadedModules() noexcept;
bool Hooked() noexcept;

// Allocates a string counted against owner (a plain SysAllocStringLen when
// not counted). Null on lack of memory.
BSTR Allocate(Ledger* owner, const wchar_t* text, std::size_t length, bool counted) noexcept;
// Strings of owner handed out and not freed yet.
std::size_t Live(const Ledger* owner) noexcept;
// Called when owner goes: frees its quarantine and forgets its live strings.
void Forget(const Ledger* owner) noexcept;

}  // namespace strings
}  // namespace telsim
