// The driver of a call on a simulated line: it follows the service's
// CallScript, the steps after Connect and those after Disconnect.
#pragma once

#include "telsim/call_driver.h"

#include <atomic>
#include <vector>

namespace telsim {

class ScriptedDriver final : public CallDriver {
public:
    ScriptedDriver(std::vector<CallStep> onConnect, std::vector<CallStep> onDisconnect,
                   CallReports& reports);

    HRESULT Connect(const std::wstring& destination, bool synchronous) noexcept override;
    // Steps of the connect not delivered yet are dropped.
    HRESULT Disconnect(bool synchronous) noexcept override;
    // A scripted call holds no line: the shutdown leaves it to its script.
    DWORD BeginShutdownHangUp() noexcept override { return 0; }
    bool Running() const noexcept override { return false; }

private:
    const std::vector<CallStep> onConnect_;
    const std::vector<CallStep> onDisconnect_;
    CallReports& reports_;
};

}  // namespace telsim
