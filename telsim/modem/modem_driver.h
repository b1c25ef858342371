// The driver of a call on a modem line: Connect dials through the modem (a
// ModemDial on a thread of its own) and the modem's results become the
// call's states, reported with their causes.
#pragma once

#include "telsim/call_driver.h"
#include "telsim/line_kinds.h"
#include "telsim/modem/modem_config.h"
#include "telsim/modem/modem_dial.h"

#include <memory>
#include <mutex>
#include <string>

namespace telsim::modem {

class ModemDriver final : public CallDriver {
public:
    ModemDriver(std::shared_ptr<const ModemConfig> config, CallReports& reports);
    // Hangs up a call still running and waits for its thread (bounded).
    ~ModemDriver() override;
    ModemDriver(const ModemDriver&) = delete;
    ModemDriver& operator=(const ModemDriver&) = delete;

    // Opens the port and starts dialling `destination` (reduced to dialable
    // characters). A port that cannot be opened fails here with the open's
    // HRESULT and nothing is reported. The states are reported from the
    // modem's thread, never after this driver is destroyed.
    HRESULT Connect(const std::wstring& destination, bool synchronous) noexcept override;
    // Asks the modem to hang up; disconnected is reported once it has.
    HRESULT Disconnect(bool synchronous) noexcept override;
    DWORD BeginShutdownHangUp() noexcept override;
    bool Running() const noexcept override;

    // Asks the modem to hang up; false when no modem call is running (never
    // started, or ended already).
    bool HangUp() noexcept;
    // Why the last call ended ("busy", "no carrier", ...); empty while none
    // has ended. With the exchange with the modem, for diagnostics.
    std::string Reason() const;
    std::string Transcript() const;

private:
    const std::shared_ptr<const ModemConfig> config_;
    CallReports& reports_;
    mutable std::mutex mu_;
    std::unique_ptr<ModemDial> dial_;
};

// The cause a call-state event carries for how a modem call ended.
CALL_STATE_EVENT_CAUSE CauseOf(Outcome outcome, bool wasConnected);

// Kind=modem (the README, "Modem lines and number translation").
const LineKind& ModemLineKind();

}  // namespace telsim::modem
