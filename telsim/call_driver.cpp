#include "telsim/call_driver.h"

#include <algorithm>

namespace telsim {

void HangUpAndWait(const std::vector<CallDriver*>& drivers) noexcept {
    DWORD longest = 0;
    for (CallDriver* driver : drivers) {
        longest = std::max(longest, driver->BeginShutdownHangUp());
    }
    const ULONGLONG deadline = GetTickCount64() + longest;
    while (GetTickCount64() < deadline &&
           std::any_of(drivers.begin(), drivers.end(),
                       [](const CallDriver* driver) { return driver->Running(); })) {
        Sleep(20);
    }
}

}  // namespace telsim
