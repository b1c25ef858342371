// The modem behind one simulated call on a modem line: what the call object
// uses instead of its scripted steps. State changes are handed to `post`
// as call states with their causes; the call delivers them from the
// service's notification thread.
#pragma once

#include "telephony/tapi.h"
#include "telsim/modem/modem_call.h"
#include "telsim/modem/modem_config.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace telsim::modem {

class CallModem {
public:
    using Post = std::function<void(CALL_STATE, CALL_STATE_EVENT_CAUSE)>;

    // `owner` (the simulated service) groups the modems for HangUpAll.
    explicit CallModem(std::shared_ptr<const ModemConfig> config, const void* owner = nullptr);
    // Hangs up a call still running and waits for its thread (bounded).
    ~CallModem();
    CallModem(const CallModem&) = delete;
    CallModem& operator=(const CallModem&) = delete;

    // Opens the port and starts dialling `destination` (reduced to dialable
    // characters). A port that cannot be opened fails here with the open's
    // HRESULT and nothing is posted. `post` runs on the modem's thread and
    // must not block; it is never called after this object is destroyed.
    HRESULT Connect(const std::wstring& destination, Post post) noexcept;
    // Asks the modem to hang up; false when no modem call is running (never
    // started, or ended already).
    bool HangUp() noexcept;

    // Hangs up every modem call of `owner` and waits until they have ended,
    // at most as long as their hang-ups may take: the platform drops an
    // application's calls when it shuts the service down, and a modem left
    // off hook would hold the line.
    static void HangUpAll(const void* owner) noexcept;

    // Why the last call ended ("busy", "no carrier", ...); empty while none
    // has ended. With the exchange with the modem, for diagnostics.
    std::string Reason() const;
    std::string Transcript() const;

private:
    bool Running() const;

    const std::shared_ptr<const ModemConfig> config_;
    const void* const owner_;
    mutable std::mutex mu_;
    std::unique_ptr<ModemCall> call_;
};

// The cause a call-state event carries for how a modem call ended.
CALL_STATE_EVENT_CAUSE CauseOf(Outcome outcome, bool wasConnected);

}  // namespace telsim::modem
