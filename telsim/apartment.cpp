#include "telsim/apartment.h"

#include <objbase.h>

namespace telsim {
namespace {

constexpr DWORD kPollMs = 10;

// One wait of at most ms; no handle is ever signalled, so only the time and
// the calls served end it.
void WaitSlice(DWORD ms) noexcept {
    if (!InSingleThreadedApartment()) {
        Sleep(ms);
        return;
    }
    const HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!never) {
        Sleep(ms);
        return;
    }
    DWORD index = 0;
    CoWaitForMultipleHandles(0, ms, 1, const_cast<HANDLE*>(&never), &index);
    CloseHandle(never);
}

}  // namespace

bool InSingleThreadedApartment() noexcept {
    APTTYPE type{};
    APTTYPEQUALIFIER qualifier{};
    if (FAILED(CoGetApartmentType(&type, &qualifier))) {
        return false;
    }
    return type == APTTYPE_STA || type == APTTYPE_MAINSTA;
}

DWORD CurrentApartment() noexcept {
    return InSingleThreadedApartment() ? GetCurrentThreadId() : 0;
}

void WaitServing(DWORD ms) noexcept {
    if (ms == 0) {
        return;
    }
    const ULONGLONG deadline = GetTickCount64() + ms;
    for (ULONGLONG now = GetTickCount64(); now < deadline; now = GetTickCount64()) {
        WaitSlice(static_cast<DWORD>(deadline - now));
    }
}

bool WaitServingUntil(const std::function<bool()>& done, DWORD timeoutMs) noexcept {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (true) {
        if (done()) {
            return true;
        }
        if (timeoutMs != INFINITE && GetTickCount64() >= deadline) {
            return false;
        }
        WaitSlice(kPollMs);
    }
}

}  // namespace telsim
