#include "telsim/scripted_driver.h"

#include <utility>

namespace telsim {

ScriptedDriver::ScriptedDriver(std::vector<CallStep> onConnect, std::vector<CallStep> onDisconnect,
                               CallReports& reports)
    : onConnect_(std::move(onConnect)), onDisconnect_(std::move(onDisconnect)), reports_(reports) {}

HRESULT ScriptedDriver::Connect(const std::wstring&, bool synchronous) noexcept {
    reports_.Report(onConnect_, synchronous);
    return S_OK;
}

HRESULT ScriptedDriver::Disconnect(bool synchronous) noexcept {
    reports_.DropPending();
    reports_.Report(onDisconnect_, synchronous);
    return S_OK;
}

}  // namespace telsim
