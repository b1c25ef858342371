// One dial through a modem, from initialisation to hang-up, run on a thread
// of its own so that neither the caller of Start nor the service's
// notification thread waits on the modem. State changes reach the owner
// through a callback.
#pragma once

#include "telsim/modem/hayes_session.h"
#include "telsim/modem/modem_config.h"

#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace telsim::modem {

enum class DialState { InProgress, Connected, Disconnected };

struct DialEvent {
    DialState state;
    Outcome reason;      // Connected, or why the call ended
    std::string detail;  // e.g. "busy"; for diagnostics
};

class ModemDial {
public:
    // Runs on the call's thread, one event at a time, in order: InProgress
    // once the modem is initialised, then Connected, then Disconnected (a
    // call that fails before connecting goes straight to Disconnected).
    // Never called after the ModemDial is destroyed.
    using Callback = std::function<void(const DialEvent&)>;

    // Opens the port here, on the caller's thread, so that a port that
    // cannot be opened fails at once with the HRESULT of the failure (and no
    // thread starts); then initialises and dials on the call's thread.
    static HRESULT Start(const ModemConfig& config, std::string dialable, Callback callback,
                         std::unique_ptr<ModemDial>& call) noexcept;

    // Asks the call to hang up; returns at once. The call's thread hangs up
    // the modem and reports Disconnected (with HungUp), unless the call had
    // already ended.
    void HangUp() noexcept;

    // Hangs up and waits for the call's thread (a few guard times at most).
    // Run on the call's own thread (from the callback), it lets the thread
    // finish alone instead.
    ~ModemDial();
    ModemDial(const ModemDial&) = delete;
    ModemDial& operator=(const ModemDial&) = delete;

    bool Ended() const noexcept;
    Outcome Reason() const noexcept;
    std::string Transcript() const;

    struct Shared;

    // Modem call threads still running in this module (a module must not be
    // unloaded while one runs).
    static long Running() noexcept;

private:
    explicit ModemDial(std::shared_ptr<Shared> shared);
    std::shared_ptr<Shared> shared_;
    std::thread thread_;
};

}  // namespace telsim::modem
