// Waiting as a COM caller must: a thread of a single-threaded apartment
// keeps serving calls marshalled into it (an event for a sink advised
// there, say) while it waits; any other thread waits plainly.
#pragma once

#include <windows.h>

#include <functional>

namespace telsim {

// Whether this thread is in a single-threaded apartment.
bool InSingleThreadedApartment() noexcept;

// The apartment of this thread: its thread id in a single-threaded
// apartment, 0 for the multithreaded one (a thread that never initialised
// COM counts as in it, as the implicit multithreaded apartment does).
DWORD CurrentApartment() noexcept;

// Waits ms milliseconds.
void WaitServing(DWORD ms) noexcept;

// Waits until done() answers true, polling it, or timeoutMs has passed
// (INFINITE: no limit); returns done()'s last answer.
bool WaitServingUntil(const std::function<bool()>& done, DWORD timeoutMs) noexcept;

}  // namespace telsim
