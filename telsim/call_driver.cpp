#include "telsim/call_driver.h"

#include "telsim/apartment.h"

#include <algorithm>

namespace telsim {

void HangUpAndWait(const std::vector<CallDriver*>& drivers) noexcept {
    DWORD longest = 0;
    for (CallDriver* driver : drivers) {
        longest = std::max(longest, driver->BeginShutdownHangUp());
    }
    // The shutdown is a synchronous call like any: a single-threaded caller
    // serves calls into its apartment meanwhile.
    WaitServingUntil(
        [&] {
            return std::none_of(drivers.begin(), drivers.end(),
                                [](const CallDriver* driver) { return driver->Running(); });
        },
        longest);
}

}  // namespace telsim
