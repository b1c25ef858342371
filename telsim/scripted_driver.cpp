#include "telsim/scripted_driver.h"

#include "telsim/apartment.h"

#include <utility>

namespace telsim {

ScriptedDriver::ScriptedDriver(const CallScript& script, CallReports& reports)
    : onConnect_(script.onConnect),
      onDisconnect_(script.onDisconnect),
      hangupMs_(script.hangupMs),
      hangupTimesOut_(script.hangupTimesOut),
      reports_(reports) {}

HRESULT ScriptedDriver::Connect(const std::wstring&, bool synchronous) noexcept {
    reports_.Report(onConnect_, synchronous);
    return S_OK;
}

HRESULT ScriptedDriver::Disconnect(bool synchronous) noexcept {
    reports_.DropPending();
    WaitServing(hangupMs_);
    if (hangupTimesOut_) {
        return TAPI_E_TIMEOUT;
    }
    reports_.Report(onDisconnect_, synchronous);
    return S_OK;
}

}  // namespace telsim
