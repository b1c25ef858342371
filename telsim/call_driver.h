// What places a call: a call of the service delegates Connect, Disconnect
// and the service's shutdown to its driver, and the driver reports the
// call's states back. A simulated line's calls are driven by the service's
// CallScript (scripted_driver.h); a line with a device behind it (a modem,
// telsim/modem) makes a driver of its own for each call.
#pragma once

#include "telephony/tapi.h"

#include <memory>
#include <string>
#include <vector>

namespace telsim {

// One call state a call goes through, delayMs after the previous step (or
// after the triggering Connect/Disconnect, for the first step).
struct CallStep {
    CALL_STATE state;
    DWORD delayMs = 0;
    CALL_STATE_EVENT_CAUSE cause = CEC_NONE;
};

// Where a driver reports: the call it drives.
class CallReports {
public:
    // The call goes through `steps` in order: at once on this thread when
    // synchronous (delays ignored), else from the service's notification
    // thread. Never blocks.
    virtual void Report(const std::vector<CallStep>& steps, bool synchronous) noexcept = 0;
    // Drops the steps reported but not delivered yet.
    virtual void DropPending() noexcept = 0;

    // A state change seen on a driver's own thread, delivered from the
    // notification thread.
    void Report(CALL_STATE state, CALL_STATE_EVENT_CAUSE cause) noexcept {
        Report({CallStep{state, 0, cause}}, false);
    }

protected:
    ~CallReports() = default;
};

class CallDriver {
public:
    virtual ~CallDriver() = default;

    // Starts the call to `destination` (the number as the client gave it).
    // A failure means nothing was started and nothing is reported.
    virtual HRESULT Connect(const std::wstring& destination, bool synchronous) noexcept = 0;
    // Ends the call; TAPI_E_INVALCALLSTATE when there is nothing to end.
    virtual HRESULT Disconnect(bool synchronous) noexcept = 0;
    // The service shuts down (the platform drops an application's calls
    // then): starts ending a call still running and returns how long that
    // may take in milliseconds, 0 when there is nothing to wait for.
    virtual DWORD BeginShutdownHangUp() noexcept = 0;
    // Whether the driver still works on its call (a hang-up included).
    virtual bool Running() const noexcept = 0;
};

// What stands behind a line that is not simulated: it makes the driver of
// each call placed on the line.
class LineDevice {
public:
    virtual ~LineDevice() = default;
    virtual std::unique_ptr<CallDriver> MakeDriver(CallReports& reports) const = 0;
};

// Hangs up every call of `drivers` and waits until they have ended, at most
// as long as their hang-ups may take.
void HangUpAndWait(const std::vector<CallDriver*>& drivers) noexcept;

}  // namespace telsim
