// The driver of a call on a simulated line: it follows the service's
// CallScript, the steps after Connect and those after Disconnect.
#pragma once

#include "telsim/call_driver.h"
#include "telsim/world.h"

#include <atomic>
#include <vector>

namespace telsim {

class ScriptedDriver final : public CallDriver {
public:
    ScriptedDriver(const CallScript& script, CallReports& reports);

    HRESULT Connect(const std::wstring& destination, bool synchronous) noexcept override;
    // Steps of the connect not delivered yet are dropped; returns after the
    // script's hang-up time (TAPI_E_TIMEOUT then when it never completes).
    HRESULT Disconnect(bool synchronous) noexcept override;
    // A scripted call holds no line: the shutdown leaves it to its script.
    DWORD BeginShutdownHangUp() noexcept override { return 0; }
    bool Running() const noexcept override { return false; }

private:
    const std::vector<CallStep> onConnect_;
    const std::vector<CallStep> onDisconnect_;
    const DWORD hangupMs_;
    const bool hangupTimesOut_;
    CallReports& reports_;
};

}  // namespace telsim
